// Draws one of the product's logo lockups at build time: a rounded mark and
// the product name in off-white, 360 pixels wide on a transparent ground.
// usage: draw-logo OUTPUT.png fa|en [FONT.ttf]
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: draw-logo OUTPUT.png fa|en [FONT.ttf]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const bool persian = std::strcmp(argv[2], "fa") == 0;
    QString family = QGuiApplication::font().family();
    if (argc > 3) {
        const int id = QFontDatabase::addApplicationFont(QString::fromLocal8Bit(argv[3]));
        if (id >= 0) family = QFontDatabase::applicationFontFamilies(id).value(0, family);
    }

    const int width = 360, height = 110;
    const QColor offWhite(236, 236, 236);
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    // The mark: a rounded square outline with a dot, on the reading side.
    const int mark = 84, margin = (height - mark) / 2;
    const QRectF markRect(persian ? width - mark - 4 : 4, margin, mark, mark);
    p.setPen(QPen(offWhite, 8));
    p.drawRoundedRect(markRect.adjusted(4, 4, -4, -4), 22, 22);
    p.setBrush(offWhite);
    p.setPen(Qt::NoPen);
    p.drawEllipse(markRect.center() + QPointF(14, 14), 10, 10);

    QFont font(family);
    font.setPixelSize(persian ? 58 : 60);
    font.setWeight(QFont::DemiBold);
    p.setFont(font);
    p.setPen(offWhite);
    const QRectF textRect = persian ? QRectF(0, 0, width - mark - 24, height)
                                    : QRectF(mark + 24, 0, width - mark - 24, height);
    p.drawText(textRect, Qt::AlignVCenter | (persian ? Qt::AlignRight : Qt::AlignLeft),
               persian ? QString::fromUtf8("کوروا") : QStringLiteral("Quorva"));
    p.end();
    return image.save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
