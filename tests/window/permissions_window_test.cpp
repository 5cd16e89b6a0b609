#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <csignal>
#include <filesystem>

#include "app/quorva_desktop.h"
#include "support/test_support.h"

#include <X11/Xutil.h>  // last: Xlib's macros (None, Status, ...) clash with the headers above

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

TEST(PermissionsWindow, InProcessOffscreenThenFromTheBuiltHostOnX) {
    auto plain = Host(false).host->window->widget()->findChild<QLabel*>("body")->font().family();
    EXPECT_TRUE(QFontDatabase::hasFamily("Vazirmatn") || plain == QApplication::font().family());
    const QString app = QString::fromStdString(test::builtAppFolder());
    // A build without the font is supported: then Persian uses the system font too.
    const bool font = QFontDatabase::addApplicationFont(app + "/Resources/Vazirmatn.ttf") >= 0;
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
        QWidget* const w = h.host->window->widget();
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
        EXPECT_EQ(body->font().family(),
                  english || !font ? QApplication::font().family() : "Vazirmatn");
        EXPECT_EQ(body->font().pixelSize(), 15);
        EXPECT_TRUE(body->alignment() & (english ? Qt::AlignLeft : Qt::AlignRight));

        w->move(13, 17), w->close();  // then a trigger entry and another call
        std::filesystem::create_directories(h.home / "desktop/show-permissions");
        h.host->tick(), h.host->showPermissions(), h.host->tick();
        EXPECT_TRUE(h.host->window->widget() == w && w->isVisible() && w->pos() == QPoint(13, 17));
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
        EXPECT_TRUE(test::waitFor([&] {
            ::Window w;
            int revert;
            XTextProperty name{};
            XGetInputFocus(d, &w, &revert);
            XImage* x = XGetTextProperty(d, w, &name, XInternAtom(d, "_NET_WM_NAME", False)) &&
                                kWindows[english][0] == reinterpret_cast<char*>(name.value)
                            ? XGetImage(d, w, 0, 0, 510, 350, AllPlanes, ZPixmap)
                            : nullptr;
            if (XFree(name.value); !x) return false;  // none while smaller than 510x350
            shot = QImage(reinterpret_cast<uchar*>(x->data), 510, 350, QImage::Format_RGB32).copy();
            return XDestroyImage(x), shot.pixel(4, 345) == qRgb(41, 41, 39);
        }));
        EXPECT_TRUE(shot.save(shots + "permissions-" + (english ? "en" : "fa") + ".png"));
        host.kill(SIGTERM), host.wait();  // SIGTERM, so that it stops its driver
    }
    XCloseDisplay(d);
}
