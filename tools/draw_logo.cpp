// Draws the product's artwork at build time, so no image is committed:
//   draw-logo lockup OUTPUT.png fa|en [FONT.ttf]
//     a logo lockup: the mark and the product name in off-white, 360 pixels
//     wide on a transparent ground, the mark on the reading side;
//   draw-logo icon OUTPUT.png SIZE | OUTPUT.svg | OUTPUT.icns
//     the app icon: the mark in off-white on a dark rounded square, as a PNG
//     of SIZE pixels, as SVG from the same shapes, or as a macOS icon file.
#include <QBuffer>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const QColor kOffWhite(236, 236, 236);
const QColor kGround(41, 41, 39);  // the permissions window's background

// The mark in a square box: a rounded outline with a dot towards one corner.
// Proportions are those of the lockup's 84-pixel mark.
struct Mark {
    QRectF outline;  // centre line of the stroke
    double radius, stroke;
    QPointF dot;
    double dotRadius;
};

Mark markIn(const QRectF& box) {
    const double u = box.width() / 84.0;
    return {box.adjusted(4 * u, 4 * u, -4 * u, -4 * u), 22 * u, 8 * u,
            box.center() + QPointF(14 * u, 14 * u), 10 * u};
}

// The icon on a canvas of `size`: a dark rounded square with a small margin,
// the mark centred on it.
struct Icon {
    QRectF ground;
    double groundRadius;
    Mark mark;
};

Icon iconOf(double size) {
    const double margin = size / 16, side = size - 2 * margin, markSide = side * 0.62;
    const QRectF ground(margin, margin, side, side);
    QRectF markBox(0, 0, markSide, markSide);
    markBox.moveCenter(ground.center());
    return {ground, side * 0.22, markIn(markBox)};
}

void paintMark(QPainter& p, const Mark& m) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kOffWhite, m.stroke));
    p.drawRoundedRect(m.outline, m.radius, m.radius);
    p.setBrush(kOffWhite);
    p.setPen(Qt::NoPen);
    p.drawEllipse(m.dot, m.dotRadius, m.dotRadius);
}

QImage canvas(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage iconImage(int size) {
    QImage image = canvas(size, size);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const Icon icon = iconOf(size);
    p.setPen(Qt::NoPen);
    p.setBrush(kGround);
    p.drawRoundedRect(icon.ground, icon.groundRadius, icon.groundRadius);
    paintMark(p, icon.mark);
    return image;
}

// The same shapes as iconImage, written as SVG on a 256-unit canvas.
QByteArray iconSvg() {
    const Icon i = iconOf(256);
    const Mark& m = i.mark;
    auto n = [](double v) { return QByteArray::number(v, 'g', 6); };
    auto rect = [&](const QRectF& r, double radius, const QByteArray& paint) {
        return "  <rect x=\"" + n(r.x()) + "\" y=\"" + n(r.y()) + "\" width=\"" + n(r.width()) +
               "\" height=\"" + n(r.height()) + "\" rx=\"" + n(radius) + "\" " + paint + "/>\n";
    };
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
           "viewBox=\"0 0 256 256\">\n" +
           rect(i.ground, i.groundRadius, "fill=\"" + kGround.name().toLatin1() + "\"") +
           rect(m.outline, m.radius,
                "fill=\"none\" stroke=\"" + kOffWhite.name().toLatin1() + "\" stroke-width=\"" +
                    n(m.stroke) + "\"") +
           "  <circle cx=\"" + n(m.dot.x()) + "\" cy=\"" + n(m.dot.y()) + "\" r=\"" +
           n(m.dotRadius) + "\" fill=\"" + kOffWhite.name().toLatin1() + "\"/>\n</svg>\n";
}

QByteArray png(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// A macOS icon file: "icns", its length, then one element per size, each a
// four-letter type, its length and a PNG (macOS 10.7 and later read these).
QByteArray iconIcns() {
    const struct {
        const char* type;
        int size;
    } kElements[] = {{"icp4", 16},  {"icp5", 32},  {"ic11", 32},  {"icp6", 64},
                     {"ic12", 64},  {"ic07", 128}, {"ic13", 256}, {"ic08", 256},
                     {"ic14", 512}, {"ic09", 512}, {"ic10", 1024}};
    auto header = [](const char* type, quint32 length) {
        QByteArray h(type, 4);
        h.resize(8);
        qToBigEndian(length, h.data() + 4);
        return h;
    };
    QByteArray body;
    for (const auto& e : kElements) {
        const QByteArray data = png(iconImage(e.size));
        body += header(e.type, 8 + data.size()) + data;
    }
    return header("icns", 8 + body.size()) + body;
}

bool writeFile(const char* path, const QByteArray& bytes) {
    QFile file(QString::fromLocal8Bit(path));
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size() && file.flush();
}

bool drawLockup(const char* out, bool persian, const char* fontFile) {
    QString family = QGuiApplication::font().family();
    if (fontFile) {
        const int id = QFontDatabase::addApplicationFont(QString::fromLocal8Bit(fontFile));
        if (id >= 0) family = QFontDatabase::applicationFontFamilies(id).value(0, family);
    }
    const int width = 360, height = 110, mark = 84, margin = (height - mark) / 2;
    QImage image = canvas(width, height);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    paintMark(p, markIn(QRectF(persian ? width - mark - 4 : 4, margin, mark, mark)));

    QFont font(family);
    font.setPixelSize(persian ? 58 : 60);
    font.setWeight(QFont::DemiBold);
    p.setFont(font);
    p.setPen(kOffWhite);
    const QRectF textRect = persian ? QRectF(0, 0, width - mark - 24, height)
                                    : QRectF(mark + 24, 0, width - mark - 24, height);
    p.drawText(textRect, Qt::AlignVCenter | (persian ? Qt::AlignRight : Qt::AlignLeft),
               persian ? QString::fromUtf8("کوروا") : QStringLiteral("Quorva"));
    p.end();
    return image.save(QString::fromLocal8Bit(out), "PNG");
}

bool drawIcon(const char* out, const char* sizeArg) {
    const std::string path = out;
    auto endsWith = [&](const char* suffix) {
        const size_t n = std::strlen(suffix);
        return path.size() >= n && path.compare(path.size() - n, n, suffix) == 0;
    };
    if (endsWith(".svg")) return writeFile(out, iconSvg());
    if (endsWith(".icns")) return writeFile(out, iconIcns());
    const int size = sizeArg ? std::atoi(sizeArg) : 0;
    return size > 0 && size <= 1024 && writeFile(out, png(iconImage(size)));
}

}  // namespace

int main(int argc, char** argv) {
    const bool lockup = argc >= 4 && std::strcmp(argv[1], "lockup") == 0;
    const bool icon = argc >= 3 && std::strcmp(argv[1], "icon") == 0;
    if (!lockup && !icon) {
        std::fprintf(stderr,
                     "usage: draw-logo lockup OUTPUT.png fa|en [FONT.ttf]\n"
                     "       draw-logo icon OUTPUT.png SIZE | OUTPUT.svg | OUTPUT.icns\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Keep the build's output to what matters: Qt's warnings about the
    // session (no XDG_RUNTIME_DIR and the like) do not.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            std::fprintf(stderr, "draw-logo: %s\n", qPrintable(message));
    });
    // Without a session, Qt would leave a runtime folder in /tmp for good: a
    // private one of its own goes when the drawing is done.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid())
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QGuiApplication app(argc, argv);
    const bool ok =
        lockup ? drawLockup(argv[2], std::strcmp(argv[3], "fa") == 0, argc > 4 ? argv[4] : nullptr)
               : drawIcon(argv[2], argc > 3 ? argv[3] : nullptr);
    return ok ? 0 : 1;
}
