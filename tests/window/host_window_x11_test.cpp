// The built host on a real X server: its window as a user sees it, with
// screenshots kept in <build>/screenshots for a person to look at.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <QImage>
#include <QPainter>
#include <filesystem>

#include "support/test_support.h"

// Xlib last: its macros (None, Status, ...) clash with the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

const QRect kBody(32, 95, 446, 140), kLogoLeft(32, 24, 196, 60), kLogoRight(282, 24, 196, 60);

// The top-level window's pixels once one titled `title` (_NET_WM_NAME) is on
// screen; Xvfb runs at depth 24, so a pixel is 32 bits, 0x..RRGGBB.
QImage capture(Display* d, const std::string& title) {
    const Atom name = XInternAtom(d, "_NET_WM_NAME", False);
    ::Window root, parent, *kids = nullptr;
    unsigned count = 0;
    XQueryTree(d, DefaultRootWindow(d), &root, &parent, &kids, &count);
    QImage image;
    for (unsigned i = 0; i < count && image.isNull(); ++i) {
        Atom type;
        int format;
        unsigned long items, after;
        unsigned char* data = nullptr;
        XGetWindowProperty(d, kids[i], name, 0, 256, False, XInternAtom(d, "UTF8_STRING", False),
                           &type, &format, &items, &after, &data);
        const bool titled = data && std::string(reinterpret_cast<char*>(data), items) == title;
        if (data) XFree(data);
        XWindowAttributes a;
        if (!titled || !XGetWindowAttributes(d, kids[i], &a) || a.map_state != IsViewable) continue;
        XImage* x = XGetImage(d, kids[i], 0, 0, a.width, a.height, AllPlanes, ZPixmap);
        if (!x) continue;
        image = QImage(reinterpret_cast<uchar*>(x->data), a.width, a.height, x->bytes_per_line,
                       QImage::Format_RGB32)
                    .copy();
        XDestroyImage(x);
    }
    if (kids) XFree(kids);
    return image;
}

// The box around the text-coloured (bright) pixels inside `area`.
QRect brightBox(const QImage& image, const QRect& area) {
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (qGray(image.pixel(x, y)) > 150) box |= QRect(x, y, 1, 1);
    return box;
}

// Mean grey-level difference between `area` and the logo resource `name`
// drawn into it on the window's background.
double logoDistance(const QImage& shot, const QRect& area, const std::string& name) {
    const QImage logo =
        QImage(QString::fromStdString(test::builtAppFolder() + "/Resources/" + name + ".png"))
            .scaled(area.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QImage expected(area.size(), QImage::Format_RGB32);
    expected.fill(QColor(41, 41, 39));
    QPainter(&expected).drawImage((area.width() - logo.width()) / 2,
                                  (area.height() - logo.height()) / 2, logo);
    double sum = 0;
    for (int y = 0; y < area.height(); ++y)
        for (int x = 0; x < area.width(); ++x)
            sum += std::abs(qGray(expected.pixel(x, y)) -
                            qGray(shot.pixel(area.topLeft() + QPoint(x, y))));
    return sum / (area.width() * area.height());
}

// The state letter and parent of a process; state 0 once it is reaped.
std::pair<char, int> procStat(const std::string& pid) {
    const std::string stat = test::readFile("/proc/" + pid + "/stat");
    const auto close = stat.rfind(')');
    if (close == std::string::npos) return {0, 0};
    return {stat[close + 2], std::atoi(stat.c_str() + close + 4)};
}

// SIGTERM, not the SIGKILL of Process, so the host stops its driver however
// the test ends.
struct Terminate {
    test::Process& host;
    ~Terminate() {
        host.kill(SIGTERM);
        host.wait();
    }
};

TEST(PermissionsWindowOnX, BuiltHostShowsItInBothLanguages) {
    test::Xvfb xvfb;
    ASSERT_TRUE(xvfb.ok());
    Display* d = XOpenDisplay(xvfb.display().c_str());
    ASSERT_NE(d, nullptr);
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });  // a window may vanish
    const std::string shots = test::builtAppFolder() + "/../screenshots";
    std::filesystem::create_directories(shots);

    const std::string fa = "quorva-lockup-fa-off-white-w360",
                      en = "quorva-lockup-en-off-white-w360";
    const struct {
        const char *screenshot, *title;
        bool english;
        QRect logoArea, otherSide;
        std::string logo, otherLogo;
    } runs[] = {
        {"permissions-fa.png", "دسترسی\u200cهای کوروا", false, kLogoRight, kLogoLeft, fa, en},
        {"permissions-en.png", "Quorva permissions", true, kLogoLeft, kLogoRight, en, fa},
    };
    for (const auto& run : runs) {
        SCOPED_TRACE(run.screenshot);
        test::TempDir home;
        std::vector<std::string> argv{test::builtAppFolder() + "/bin/quorva-desktop", "--home",
                                      home.path(), "--permissions"};
        if (run.english) argv.push_back("--english");
        test::Process host = test::spawnProcess(
            argv, test::environmentWith({"DISPLAY=" + xvfb.display()}, {"QT_QPA_PLATFORM"}),
            home.path());
        const Terminate stop{host};

        QImage image;
        ASSERT_TRUE(test::waitFor([&] {
            image = capture(d, run.title);
            return !image.isNull() && !brightBox(image, kBody).isEmpty();
        })) << "no painted window titled "
            << run.title;
        EXPECT_EQ(image.size(), QSize(510, 350));
        EXPECT_TRUE(image.save(QString::fromStdString(shots + "/" + run.screenshot)));

        EXPECT_LT(brightBox(image, kBody).bottom(), kBody.bottom() - 2) << "last line cut";
        EXPECT_TRUE(brightBox(image, run.otherSide).isEmpty());
        EXPECT_LT(logoDistance(image, run.logoArea, run.logo),
                  logoDistance(image, run.logoArea, run.otherLogo));

        std::string driver;  // the host's only child
        for (const auto& entry : std::filesystem::directory_iterator("/proc"))
            if (procStat(entry.path().filename()).second == host.pid)
                driver = entry.path().filename();
        ASSERT_FALSE(driver.empty());
        host.kill(SIGTERM);
        EXPECT_TRUE(WIFEXITED(host.wait()));
        // Gone, or a zombie left for init to reap.
        EXPECT_TRUE(test::waitFor([&] {
            const char state = procStat(driver).first;
            return state == 0 || state == 'Z';
        }));
    }
    XCloseDisplay(d);
}

}  // namespace
