#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <csignal>
#include <filesystem>
#include <thread>

#include "app/quorva_desktop.h"
#include "support/fake_system.h"
#include "support/test_support.h"

#include <X11/Xutil.h>  // last: Xlib's macros (None, Status, ...) clash with the headers above

using namespace std::chrono_literals;

struct Host final : platform::System {  // records its requests; finds no logo or font beside us
    explicit Host(bool english) {  // one offscreen application for the run, like the host's own
        if (!qApp) qputenv("QT_QPA_PLATFORM", "offscreen"), new QApplication(*new int(0), nullptr);
        const std::vector<std::string> args{"", "--home", home.path(), english ? "--english" : ""};
        (host = std::make_shared<QuorvaDesktop>(*this, args))->takeRuntimeFolder();
        host->showPermissions();
    }
    double now() override { return 1000.0; }
    bool accessibilityTrusted() override { return calls.push_back("probe"), true; }
    bool screenCaptureAllowed() override { return calls.push_back("probe"), true; }
    void requestAccessibility() override { calls.push_back("AX?"); }
    void requestScreenCapture() override { calls.push_back("SC?"); }
    void openUrl(const std::string& url, const platform::Environment&) override {
        calls.push_back(url);
    }
    void terminate(int) override { calls.push_back("terminate"); }
    void activate() override { calls.push_back("activate"); }
    QWidget* window() const { return host->window->widget(); }
    QString bodyFont() const {
        return QFontInfo(window()->findChild<QLabel*>("body")->font()).family();
    }
    test::TempDir home;
    std::vector<std::string> calls;
    std::shared_ptr<QuorvaDesktop> host;
};

const std::vector<std::string> kWindows[] = {  // escaped: ZWNJ, hamza, Arabic comma, semicolon
    {"دسترسی\u200cهای کوروا", "282,24 196x60 ",
     "32,95 446x140 برای دیدن صفحه و کار با برنامه\u200cها\u060c به کوروا اجازه\u0654 دسترسی بده. "
     "این قابلیت بخشی از کوروا است.\n\nدر تنظیمات macOS\u060c \u00abQuorva\u00bb را در "
     "Accessibility و Screen Recording فعال کن\u061b سپس کوروا را دوباره باز کن.",
     "32,254 210x38 کنترل برنامه\u200cها", "268,254 210x38 دیدن صفحه"},
    {"Quorva permissions", "32,24 196x60 ",
     "32,95 446x140 Allow Quorva to see the screen and work with apps. Desktop control is built "
     "into Quorva.\n\nEnable Quorva in macOS Accessibility and Screen Recording, then restart "
     "Quorva.",
     "32,254 210x38 Control apps", "268,254 210x38 See the screen"}};

// What a screenshot of the window must show, in Qt's top-left coordinates: the background
// everywhere but the views, the logo on the language's side, the body's light text against
// the language's edge, two light buttons; and the body as the window built in-process draws it
// (the same font, registered by the built host itself).
void expectPixels(const QImage& shot, bool english, const QImage& drawn) {
    const QRect logo(english ? 32 : 282, 24, 196, 60), body(32, 95, 446, 140);
    const QRect buttons[] = {{32, 254, 210, 38}, {268, 254, 210, 38}};
    const QRgb background = qRgb(41, 41, 39), text = qRgb(236, 236, 236);
    int stray = 0, logoInk = 0, textInk = 0, left = shot.width(), right = 0, differ = 0;
    int buttonFace[2] = {0, 0};
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb p = shot.pixel(x, y);
            const bool light = qGray(p) > 200;
            if (logo.contains(x, y)) {
                logoInk += light;
            } else if (body.contains(x, y)) {
                textInk += p == text;
                if (light) left = std::min(left, x), right = std::max(right, x);
                differ += std::abs(qGray(p) - qGray(drawn.pixel(x, y))) > 64;
            } else if (buttons[0].contains(x, y) || buttons[1].contains(x, y)) {
                buttonFace[x > 255] += light;
            } else {
                stray += p != background;
            }
        }
    EXPECT_EQ(stray, 0) << "pixels off the background outside the views";
    EXPECT_GT(logoInk, 500) << "no logo";
    EXPECT_GT(textInk, 200) << "no body text in its colour";
    EXPECT_LT(english ? left - body.left() : body.right() - right, 4) << left << ".." << right;
    EXPECT_LT(differ, 200) << "the body is drawn otherwise than in-process";
    for (const int face : buttonFace) EXPECT_GT(face, 210 * 38 * 3 / 4) << "no button";
}

TEST(PermissionsWindow, InProcessOffscreenThenFromTheBuiltHostOnX) {
    const QString app = QString::fromStdString(test::builtAppFolder());
    // Nothing beside this test: the Persian window falls back to the system font.
    const Host plain(false);
    const QString system = QFontInfo(QApplication::font()).family();
    EXPECT_TRUE(QFontDatabase::hasFamily("Vazirmatn") || plain.bodyFont() == system);
    // With the font in Resources (a build without it is supported) Persian uses it. The built
    // host registers it itself; here the test does.
    const bool font = QFile::exists(app + "/Resources/Vazirmatn.ttf");
    EXPECT_EQ(font, QFontDatabase::addApplicationFont(app + "/Resources/Vazirmatn.ttf") >= 0);
    test::Xvfb xvfb;
    Display* d = XOpenDisplay(xvfb.display().c_str());
    ASSERT_NE(d, nullptr);
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });  // nothing may be focused yet
    const QString shots = app + "/../screenshots/";              // for a person to look at
    std::filesystem::create_directories(shots.toStdString());
    const std::string bin = test::builtAppFolder() + "/bin/quorva-desktop";
    const auto env = test::environmentWith({"DISPLAY=" + xvfb.display()}, {"QT_QPA_PLATFORM"});
    for (const bool english : {false, true}) {
        Host h(english);
        QWidget* const w = h.window();
        std::vector<std::string> seen{w->windowTitle().toStdString()};
        for (const QWidget* v : w->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            auto f = QString::asprintf("%d,%d %dx%d ", v->x(), v->y(), v->width(), v->height());
            seen.push_back((f + v->property("text").toString()).toStdString());
        }
        EXPECT_EQ(seen, kWindows[english]);
        EXPECT_TRUE(w->minimumSize() == QSize(510, 350) && w->maximumSize() == QSize(510, 350));
        EXPECT_EQ(w->windowFlags() & (Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint),
                  Qt::WindowCloseButtonHint);
        const QLabel* body = w->findChild<QLabel*>("body");
        EXPECT_EQ(h.bodyFont(), english || !font ? system : "Vazirmatn");
        EXPECT_EQ(body->font().pixelSize(), 15);
        EXPECT_TRUE(body->alignment() & (english ? Qt::AlignLeft : Qt::AlignRight));
        const QImage drawn = w->grab().toImage().convertToFormat(QImage::Format_RGB32);

        w->move(13, 17), w->close();  // then a trigger entry and another call
        std::filesystem::create_directories(h.home / "desktop/show-permissions");
        h.host->tick(), h.host->showPermissions(), h.host->tick();
        EXPECT_TRUE(h.window() == w && w->isVisible() && w->pos() == QPoint(13, 17));
        EXPECT_EQ(std::ranges::count(h.calls, "activate"), 3);  // not again: the entry is gone

        h.calls.clear();
        for (QPushButton* b : w->findChildren<QPushButton*>()) b->click(), b->click();
        const std::string pane = "x-apple.systempreferences:com.apple.preference.security?Privacy_";
        const std::string ax = pane + "Accessibility", sc = pane + "ScreenCapture";
        EXPECT_EQ(h.calls, (std::vector<std::string>{"AX?", ax, "AX?", ax, "SC?", sc, "SC?", sc}));

        test::Process host = test::spawnProcess(
            {bin, "--home", h.home / "built", "--permissions", english ? "--english" : ""}, env,
            h.home.path());
        QImage shot;  // the focused window (depth 24: 0x..RRGGBB) once titled and painted
        ::Window focused;
        EXPECT_TRUE(test::waitFor([&] {
            int revert;
            XTextProperty name{};
            XGetInputFocus(d, &focused, &revert);
            XImage* x =
                XGetTextProperty(d, focused, &name, XInternAtom(d, "_NET_WM_NAME", False)) &&
                        kWindows[english][0] == reinterpret_cast<char*>(name.value)
                    ? XGetImage(d, focused, 0, 0, 510, 350, AllPlanes, ZPixmap)
                    : nullptr;
            if (XFree(name.value); !x) return false;  // none while smaller than 510x350
            shot = QImage(reinterpret_cast<uchar*>(x->data), 510, 350, QImage::Format_RGB32).copy();
            return XDestroyImage(x), shot.pixel(4, 345) == qRgb(41, 41, 39);
        }));
        EXPECT_TRUE(shot.save(shots + "permissions-" + (english ? "en" : "fa") + ".png"));
        expectPixels(shot, english, drawn);
        // Closed from its title bar, the window goes; the host stays.
        XEvent close{};
        close.xclient.type = ClientMessage;
        close.xclient.window = focused;
        close.xclient.message_type = XInternAtom(d, "WM_PROTOCOLS", False);
        close.xclient.format = 32;
        close.xclient.data.l[0] = static_cast<long>(XInternAtom(d, "WM_DELETE_WINDOW", False));
        XSendEvent(d, focused, False, NoEventMask, &close), XFlush(d);
        EXPECT_TRUE(test::waitFor([&] {
            XWindowAttributes a{};
            return !XGetWindowAttributes(d, focused, &a) || a.map_state != IsViewable;
        }));
        EXPECT_EQ(host.wait(1200ms), -1) << "closing the window ended the host";
        host.kill(SIGTERM);  // so that it stops its driver
        EXPECT_EQ(host.wait(), 0);
    }
    XCloseDisplay(d);
}

// What a screen reader meets, through Qt's accessibility interface: the window by its title, the
// logo by the product's name, each button by its title with what it does; in Persian, the window
// reads from the right, and the keyboard starts at the right-hand button.
TEST(PermissionsWindow, ScreenReadersMeetEveryViewInTheLanguagesOrder) {
    const std::string does = " permission and opens its settings";
    for (const bool english : {false, true}) {
        SCOPED_TRACE(english);
        Host h(english);
        QWidget* const w = h.window();
        const auto said = [](QObject* o, QAccessible::Text what) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(o);
            return a ? a->text(what).toStdString() : "(no interface)";
        };
        EXPECT_EQ(said(w, QAccessible::Name), kWindows[english][0]);
        EXPECT_EQ(said(w->findChild<QWidget*>("logo"), QAccessible::Name),
                  english ? "Quorva" : "کوروا");
        auto* ax = w->findChild<QPushButton*>("accessibilityButton");
        auto* screen = w->findChild<QPushButton*>("screenRecordingButton");
        EXPECT_EQ(said(ax, QAccessible::Name), ax->text().toStdString());
        EXPECT_EQ(said(screen, QAccessible::Name), screen->text().toStdString());
        EXPECT_EQ(said(ax, QAccessible::Description),
                  english ? "Asks for the Accessibility" + does
                          : "اجازه\u0654 Accessibility را درخواست می\u200cکند و تنظیمات آن را باز "
                            "می\u200cکند");
        EXPECT_EQ(said(screen, QAccessible::Description),
                  english ? "Asks for the Screen Recording" + does
                          : "اجازه\u0654 Screen Recording را درخواست می\u200cکند و تنظیمات آن را "
                            "باز می\u200cکند");
        EXPECT_EQ(w->layoutDirection(), english ? Qt::LeftToRight : Qt::RightToLeft);
        EXPECT_EQ(w->focusWidget(), english ? ax : screen) << "where Tab starts";
    }
}

// The window's showing (here an activation that takes 300 ms, as the toolkit's first load may)
// is not taken from the tick's budget for removal work: the same tick still removes every dead
// registration and, the window being off screen, counts as unattended.
TEST(PermissionsWindow, ItsShowingIsNotTakenFromTheTicksRemovalBudget) {
    struct SlowToActivate final : test::FakeSystem {
        void activate() override { std::this_thread::sleep_for(300ms); }
    } system;
    system.clock = 1000.0;
    if (!qApp) qputenv("QT_QPA_PLATFORM", "offscreen"), new QApplication(*new int(0), nullptr);
    test::TempDir home;
    const std::string clients = home / "desktop/clients";
    std::filesystem::create_directories(clients);
    for (int i = 0; i < 20; ++i) test::writeFile(clients + "/junk" + std::to_string(i), "");
    test::writeFile(home / "desktop/show-permissions", "");
    auto host = std::make_shared<QuorvaDesktop>(
        system, std::vector<std::string>{"", "--home", home.path()});
    ASSERT_EQ(host->takeRuntimeFolder(), platform::LockOutcome::Acquired);
    host->idleSince = 900.0;  // unattended for 100 s
    host->tick();
    EXPECT_TRUE(host->window);
    EXPECT_EQ(test::namesIn(clients), test::Names{});
    EXPECT_EQ(system.terminations, 1);
}
