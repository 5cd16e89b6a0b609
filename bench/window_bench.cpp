// Time for showPermissions to put the window on screen: the first call, which
// builds it, and later calls, which bring the closed window back. Needs an X
// display (bench/run.sh starts Xvfb). Prints figures; asserts nothing.
#include <QApplication>
#include <QElapsedTimer>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/quorva_desktop.h"
#include "bench/quiet_system.h"
#include "platform/fonts.h"

namespace {

// On screen: the window is mapped and the server has sent its first expose.
double showAndWait(QuorvaDesktop& host) {
    QElapsedTimer t;
    t.start();
    host.showPermissions();
    QWindow* w = host.window->widget()->windowHandle();
    while (!(w && w->isExposed())) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        w = host.window->widget()->windowHandle();
    }
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (QGuiApplication::platformName() != "xcb") {
        std::fprintf(stderr, "window_bench needs an X display\n");
        return 1;
    }
    if (argc > 1) platform::registerFontForProcess(argv[1]);
    QuietSystem system;
    auto host = std::make_shared<QuorvaDesktop>(system, std::vector<std::string>{"bench"});
    const double first = showAndWait(*host);
    std::vector<double> later;
    for (int i = 0; i < 20; ++i) {
        host->window->widget()->close();
        QApplication::processEvents();
        later.push_back(showAndWait(*host));
    }
    std::sort(later.begin(), later.end());
    std::printf("%.2f %.2f\n", first, later[later.size() / 2]);
    return 0;
}
