#include "platform/qt/qt_toolkit.h"

#include <QApplication>
#include <QFontDatabase>
#include <QSocketNotifier>
#include <QTimer>
#include <cmath>

#include "platform/qt/qt_window.h"

namespace platform::qt {
namespace {

void (*fatal)() = nullptr;

class Timer final : public ToolkitTimer {
  public:
    Timer(double seconds, std::function<void()> action) {
        // No tolerance: the default coarse timer may drift by 5 %.
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(static_cast<int>(std::lround(seconds * 1000.0)));
        QObject::connect(&timer_, &QTimer::timeout, std::move(action));
        timer_.start();
    }
    void stop() override { timer_.stop(); }

  private:
    QTimer timer_;
};

class QtToolkit final : public Toolkit {
  public:
    void start(char* program, const char* platformName, void (*onFatal)()) override {
        fatal = onFatal;
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString&) {
            if (type == QtFatalMsg && fatal) fatal();
        });
        static char platformFlag[] = "-platform";
        // Qt also reads options such as -reverse from argv: it gets a list of
        // the host's making, whose platform outranks QT_QPA_PLATFORM too.
        static char* argv[] = {program, platformFlag, const_cast<char*>(platformName), nullptr};
        static int argc = 3;
        // Lives until the process ends; the quit path ends the process directly.
        auto* app = new QApplication(argc, argv);
        // Also the window's class on X11 (WM_CLASS), which the desktop
        // entry's StartupWMClass names.
        app->setApplicationName("QuorvaDesktop");
        app->setQuitOnLastWindowClosed(false);
    }
    void exec() override { QApplication::exec(); }
    void post(std::function<void()> block) override {
        QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(block),
                                  Qt::QueuedConnection);
    }
    void whenReadable(int fd, std::function<void()> action) override {
        auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read);
        QObject::connect(notifier, &QSocketNotifier::activated, std::move(action));
    }
    std::unique_ptr<ToolkitTimer> repeatingTimer(double seconds,
                                                 std::function<void()> action) override {
        return std::make_unique<Timer>(seconds, std::move(action));
    }
    std::unique_ptr<ToolkitWindow> window(const WindowLayout& layout) override {
        return makeWindow(layout);
    }
    bool registerFont(const std::string& path) override {
        return QFontDatabase::addApplicationFont(QString::fromStdString(path)) >= 0;
    }
    bool hasFontFamily(const std::string& family) override {
        return QFontDatabase::hasFamily(QString::fromStdString(family));
    }
};

}  // namespace

Toolkit& instance() {
    static QtToolkit toolkit;
    return toolkit;
}

}  // namespace platform::qt
