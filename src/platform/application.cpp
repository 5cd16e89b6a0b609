#include "platform/application.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "platform/display.h"
#include "platform/emergency.h"
#include "platform/event_loop.h"
#include "platform/system.h"
#include "platform/toolkit.h"

namespace platform {
namespace {

Application* sharedInstance = nullptr;
int quitPipe[2] = {-1, -1};

// Who ends the process once a quit signal came: the main thread's shutdown,
// or, when the main thread has not taken it up shortly before a second has
// passed (it is stuck in a library, say a display connection to a stopped X
// server), the last-resort end. Exactly one of the two runs.
enum Phase : int { Running, QuitSignalled, ShuttingDown, EndingElsewhere };
std::atomic<int> phase{Running};
constexpr suseconds_t kQuitGraceMicroseconds = 900'000;

// The phase first, then the pipe: whoever wakes on the pipe sees the quit.
void onQuitSignal(int) {
    const int saved = errno;
    int expected = Running;
    if (phase.compare_exchange_strong(expected, QuitSignalled)) {
        itimerval once{};
        once.it_value.tv_usec = kQuitGraceMicroseconds;
        ::setitimer(ITIMER_REAL, &once, nullptr);
    }
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(quitPipe[1], &byte, 1);
    errno = saved;
}

// The quit's deadline, from the host's own timer; a SIGALRM that another
// process sends is as fatal as it would be without a handler.
void onAlarm(int sig, siginfo_t* info, void*) {
    if (info && (info->si_code == SI_USER || info->si_code == SI_QUEUE
#ifdef SI_TKILL
                 || info->si_code == SI_TKILL
#endif
                 ))
        return emergency::onFatalSignal(sig);
    int expected = QuitSignalled;
    if (phase.compare_exchange_strong(expected, EndingElsewhere)) emergency::end(0);
}

}  // namespace

Toolkit* toolkit() {
    return Application::shared().toolkit();
}

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

// The system's application object (NSApp) is the toolkit's to make: the
// policy is set once it exists. Linux has no Dock to hide from.
void Application::setActivationPolicyAccessory() {
    accessory_ = true;
    if (toolkit_) os::setActivationPolicyAccessory();
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
    emergency::catchFatalSignals();
    // A host no quit signal could reach would leave its driver running when
    // told to quit; one without its toolkit (found out before anything is
    // launched, not when a window is first wanted) could never show a window.
    if (!installQuitSignals() || !toolkitPresent()) terminate(1);
    // Launching needs nothing of the toolkit, whose start (loading its
    // libraries, its platform, the display connection) takes longer than all
    // of it. On Linux it waits for the first window.
    if (delegate_) delegate_->applicationWillFinishLaunching();
    if (toolkitStartsAtLaunch()) toolkit();
    if (delegate_ && !quitting_) delegate_->applicationDidFinishLaunching();
    EventLoop::main().run();
    // Left some other way (a session manager's quit): still the one quit path.
    terminate(0);
    return 0;
}

// Tried once: a toolkit that cannot be loaded now will not be later either,
// and every window request would pay for the attempt.
Toolkit* Application::toolkit() {
    if (toolkitTried_) return toolkit_;
    toolkitTried_ = true;
    Toolkit* gui = loadToolkit();
    if (!gui) return nullptr;
    // The host prints nothing: the toolkit's own diagnostics are dropped too.
    // A fatal one would abort; the host ends the quiet way instead.
    gui->start(program_, toolkitPlatform(), endAfterFailure);
    toolkit_ = gui;
    if (accessory_) os::setActivationPolicyAccessory();
    EventLoop::main().handOverTo(*gui);
    return gui;
}

void Application::shutDownOnce() {
    if (quitting_) return;
    quitting_ = true;
    // The last-resort end is under way on another thread: it ends the
    // process, and nothing may run beside it.
    if (phase.exchange(ShuttingDown) == EndingElsewhere)
        for (;;) ::pause();
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

bool Application::quitSignalled() {
    return phase.load() != Running;
}

int Application::quitSignalDescriptor() {
    return quitPipe[0];
}

void Application::postToMain(std::function<void()> block) {
    EventLoop::main().post(std::move(block));
}

// SIGTERM (session and service managers), SIGINT and SIGHUP (terminals)
// become the ordinary quit request, so shutdown stops the driver. Caught
// from the start, acted on by the event loop, and within a second in any
// case. A signal the host was started with ignored (nohup, background jobs)
// stays ignored.
bool Application::installQuitSignals() {
    if (::pipe(quitPipe) != 0) return false;
    for (int fd : quitPipe) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    EventLoop::main().watchReadable(quitPipe[0], [this] {
        char buf[16];
        while (::read(quitPipe[0], buf, sizeof buf) > 0) {
        }
        terminate(0);
    });
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    sa.sa_sigaction = onAlarm;
    sa.sa_flags = SA_SIGINFO;
    ::sigaction(SIGALRM, &sa, nullptr);
    sa.sa_handler = onQuitSignal;
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        ::sigaction(sig, &sa, nullptr);
    }
    return true;
}

}  // namespace platform
