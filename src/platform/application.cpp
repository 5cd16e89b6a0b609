#include "platform/application.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/display.h"
#include "platform/toolkit.h"

namespace platform {
namespace {

Application* sharedInstance = nullptr;
int quitPipe[2] = {-1, -1};

// Work posted before the toolkit's event loop exists waits here.
std::mutex mainQueueMutex;
bool toolkitStarted = false;
std::vector<std::function<void()>> pendingForMain;

void onQuitSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(quitPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

Application::Application(int, char** argv) {
    static char fallbackName[] = "quorva-desktop";
    program_ = argv && argv[0] ? argv[0] : fallbackName;
    // Looked for in the background while the host launches its driver.
    lookForDisplay();
}

Application& Application::shared(int argc, char** argv) {
    if (!sharedInstance) sharedInstance = new Application(argc, argv);
    return *sharedInstance;
}

Application& Application::shared() {
    return shared(0, nullptr);
}

void Application::setActivationPolicyAccessory() {
    // Linux desktops have no Dock or global menu bar to hide from; on macOS
    // the bundle's Info.plist (LSUIElement) makes the host an accessory.
}

void Application::setDelegate(ApplicationDelegate* delegate) {
    delegate_ = delegate;
}

int Application::run() {
    // The toolkit ends the process with exit() when its display connection
    // breaks (an X logout); shutdown must still stop the driver then, and the
    // process ends at once, as after any shutdown.
    std::atexit([] {
        if (sharedInstance && !sharedInstance->quitting_) endAfterFailure();
    });
    // An exception nobody caught (the host catches its own) still ends the
    // host the quiet way, with the driver stopped.
    std::set_terminate(endAfterFailure);
    installQuitSignals();
    // Launching needs nothing of the toolkit, whose start (loading its
    // libraries, its platform, the display connection) takes longer than all
    // of it: done first, the driver serves before a bare Qt program would
    // reach its event loop.
    if (delegate_) delegate_->applicationWillFinishLaunching();
    startToolkit();
    if (delegate_ && !quitting_) delegate_->applicationDidFinishLaunching();
    toolkit()->exec();
    // Left some other way (a session manager's quit): still the one quit path.
    terminate(0);
    return 0;
}

void Application::startToolkit() {
    Toolkit* gui = toolkit();
    if (!gui) endAfterFailure();  // nothing to run a window or a timer with
    // The host prints nothing: the toolkit's own diagnostics are dropped too.
    // A fatal one would abort; the host ends the quiet way instead.
    gui->start(program_, toolkitPlatform(), endAfterFailure);
    if (quitPipe[0] >= 0)
        gui->whenReadable(quitPipe[0], [this] {
            char buf[16];
            while (::read(quitPipe[0], buf, sizeof buf) > 0) {
            }
            terminate(0);
        });
    std::lock_guard lock(mainQueueMutex);
    toolkitStarted = true;
    for (auto& block : pendingForMain) gui->post(std::move(block));
    pendingForMain.clear();
}

void Application::shutDownOnce() {
    if (quitting_) return;
    quitting_ = true;
    if (delegate_) delegate_->applicationWillTerminate();
}

void Application::endAfterFailure() {
    if (sharedInstance) sharedInstance->shutDownOnce();
    ::_exit(1);
}

void Application::terminate(int exitStatus) {
    if (quitting_) return;
    shutDownOnce();
    std::fflush(nullptr);
    // Like the Cocoa terminate path: the process ends here, without tearing
    // down the toolkit or waiting for anything.
    ::_exit(exitStatus);
}

void Application::postToMain(std::function<void()> block) {
    std::lock_guard lock(mainQueueMutex);
    if (toolkitStarted)
        toolkit()->post(std::move(block));
    else
        pendingForMain.push_back(std::move(block));
}

// SIGTERM (session and service managers), SIGINT and SIGHUP (terminals)
// become the ordinary quit request, so shutdown stops the driver. Caught
// from the start; acted on once the event loop runs. A signal the host was
// started with ignored (nohup, background jobs) stays ignored.
void Application::installQuitSignals() {
    if (::pipe(quitPipe) != 0) return;
    for (int fd : quitPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    struct sigaction sa {};
    sa.sa_handler = onQuitSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &sa, nullptr);
    }
}

}  // namespace platform
