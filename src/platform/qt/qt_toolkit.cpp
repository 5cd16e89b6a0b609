#include "platform/qt/qt_toolkit.h"

#include <QApplication>
#include <QFontDatabase>
#include <QSocketNotifier>
#include <QTimer>
#include <map>
#include <memory>

#include "platform/qt/qt_window.h"

namespace platform::qt {
namespace {

void (*fatal)() = nullptr;

class Timer final : public ToolkitTimer {
  public:
    explicit Timer(std::function<void()> action) {
        // Not coarse: that may fire up to 5 % late.
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, std::move(action));
    }
    void startOnce(std::chrono::milliseconds after) override {
        timer_.start(static_cast<int>(after.count()));
    }
    void stop() override { timer_.stop(); }

  private:
    QTimer timer_;
};

class QtToolkit final : public Toolkit {
  public:
    void start(char* program, const char* platformName, void (*onFatal)()) override {
        if (QCoreApplication::instance()) return;  // a test's or a benchmark's own
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
    void quit() override { QCoreApplication::quit(); }
    void whenReadable(int fd, std::function<void()> action) override {
        auto& notifier = notifiers_[fd];
        notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        QObject::connect(notifier.get(), &QSocketNotifier::activated, std::move(action));
    }
    // Called from the notifier's own action, too: it goes once that returns.
    void stopWatching(int fd) override {
        const auto it = notifiers_.find(fd);
        if (it == notifiers_.end()) return;
        it->second->setEnabled(false);
        it->second.release()->deleteLater();
        notifiers_.erase(it);
    }
    std::unique_ptr<ToolkitTimer> timer(std::function<void()> action) override {
        return std::make_unique<Timer>(std::move(action));
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
    bool onDisplay() const override {
        return QGuiApplication::platformName() != QLatin1String("offscreen");
    }

  private:
    std::map<int, std::unique_ptr<QSocketNotifier>> notifiers_;
};

}  // namespace

Toolkit& instance() {
    static QtToolkit toolkit;
    return toolkit;
}

}  // namespace platform::qt
