#include "platform/qt/qt_window.h"

#include <QApplication>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <vector>

namespace platform::qt {
namespace {

QColor toQColor(Color c) {
    return QColor(c.red, c.green, c.blue);
}

void describe(QWidget* view, const Accessible& a) {
    if (!a.name.empty()) view->setAccessibleName(QString::fromStdString(a.name));
    if (!a.description.empty())
        view->setAccessibleDescription(QString::fromStdString(a.description));
}

// Bottom-left origin to Qt's top-left origin.
void place(QWidget* view, const Rect& r, int contentHeight) {
    view->setGeometry(r.x, contentHeight - r.y - r.height, r.width, r.height);
}

QWidget* makeView(const ImageView& s, QWidget* parent, int contentHeight) {
    auto* view = new QLabel(parent);
    view->setObjectName(QString::fromStdString(s.name));
    view->setAlignment(Qt::AlignCenter);
    if (s.imagePath) {
        QPixmap image(QString::fromStdString(*s.imagePath));
        if (!image.isNull()) {
            const qreal dpr = view->devicePixelRatioF();
            const QSize box(s.frame.width * dpr, s.frame.height * dpr);
            // Proportionally down: a smaller image keeps its own size.
            if (image.width() > box.width() || image.height() > box.height())
                image = image.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation);
            image.setDevicePixelRatio(dpr);
            view->setPixmap(image);
        }
    }
    place(view, s.frame, contentHeight);
    describe(view, s.accessible);
    return view;
}

QWidget* makeView(const Label& s, QWidget* parent, int contentHeight) {
    auto* label = new QLabel(QString::fromStdString(s.text), parent);
    label->setObjectName(QString::fromStdString(s.name));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    QFont font =
        s.fontFamily.empty() ? QApplication::font() : QFont(QString::fromStdString(s.fontFamily));
    font.setPixelSize(s.pixelSize);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, toQColor(s.color));
    label->setPalette(palette);
    place(label, s.frame, contentHeight);
    // Absolute: right means the right edge, whatever the layout direction.
    const Qt::Alignment horizontal = s.alignment == Alignment::Right
                                         ? Qt::AlignRight | Qt::AlignAbsolute
                                         : Qt::AlignLeft | Qt::AlignAbsolute;
    label->setAlignment(horizontal | Qt::AlignTop);
    return label;
}

QWidget* makeView(const Button& s, QWidget* parent, int contentHeight) {
    auto* button = new QPushButton(QString::fromStdString(s.title), parent);
    button->setObjectName(QString::fromStdString(s.name));
    if (s.action)
        QObject::connect(button, &QPushButton::clicked, [action = s.action] { action(); });
    place(button, s.frame, contentHeight);
    button->setAutoDefault(false);
    describe(button, s.accessible);
    return button;
}

// A window kept for the whole run: closing hides it, nothing releases it.
class QtWindow final : public ToolkitWindow {
  public:
    explicit QtWindow(const WindowLayout& layout) {
        QWidget* w = &widget_;
        w->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint);
        w->setAttribute(Qt::WA_DeleteOnClose, false);
        w->setFixedSize(layout.width, layout.height);
        w->setWindowTitle(QString::fromStdString(layout.title));
        if (layout.iconPath) w->setWindowIcon(QIcon(QString::fromStdString(*layout.iconPath)));
        QPalette palette = w->palette();
        palette.setColor(QPalette::Window, toQColor(layout.background));
        w->setPalette(palette);
        w->setAutoFillBackground(true);
        w->setAccessibleName(QString::fromStdString(layout.title));
        w->setLayoutDirection(layout.rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
        std::vector<QWidget*> focusable;
        for (const View& view : layout.views) {
            QWidget* made =
                std::visit([&](const auto& s) { return makeView(s, w, layout.height); }, view);
            if (made->focusPolicy() & Qt::TabFocus) focusable.push_back(made);
        }
        // Tab starts where one starts reading: at the right in a right-to-left
        // window (Qt 6.4's setTabOrder cannot move a widget before one made
        // earlier, and two buttons take turns either way).
        std::ranges::sort(focusable, [&](QWidget* a, QWidget* b) {
            return layout.rightToLeft ? a->x() > b->x() : a->x() < b->x();
        });
        if (!focusable.empty()) focusable.front()->setFocus();
    }

    void center() override {
        QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen) return;
        const QRect area = screen->availableGeometry();
        widget_.move(area.x() + (area.width() - widget_.width()) / 2,
                     area.y() + (area.height() - widget_.height()) / 2);
    }

    void makeKeyAndOrderFront() override {
        widget_.show();
        widget_.raise();
        widget_.activateWindow();
    }

    bool isVisible() const override {
        // Minimised counts as off screen, as it does for a Cocoa window; and
        // the offscreen platform has no screen anyone can look at.
        return widget_.isVisible() && !widget_.isMinimized() &&
               QGuiApplication::platformName() != QLatin1String("offscreen");
    }

    QWidget* widget() const override { return const_cast<QWidget*>(&widget_); }

  private:
    QWidget widget_;
};

}  // namespace

std::unique_ptr<ToolkitWindow> makeWindow(const WindowLayout& layout) {
    return std::make_unique<QtWindow>(layout);
}

}  // namespace platform::qt
