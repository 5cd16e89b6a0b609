#include "platform/emergency.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <iterator>

namespace platform::emergency {
namespace {

std::atomic<int> runtimeFd{-1};
std::atomic<const char*> socketEntry{nullptr};

void removeSocket() {
    const int fd = runtimeFd.load();
    const char* name = socketEntry.load();
    if (fd >= 0 && name) ::unlinkat(fd, name, 0);
}

// Those whose default action ends the process, less the host's own.
bool caughtHere(int sig) {
    static constexpr int notHere[] = {
        SIGKILL, SIGSTOP,                              // cannot be caught
        SIGCHLD, SIGCONT, SIGURG,  SIGWINCH,           // ignored by default
        SIGTSTP, SIGTTIN, SIGTTOU,                     // stop, not end
        SIGTERM, SIGINT,  SIGHUP,  SIGALRM,  SIGPIPE,  // the host's own
    };
    return std::find(std::begin(notHere), std::end(notHere), sig) == std::end(notHere);
}

bool startedIgnored(int sig) {
    struct sigaction old {};
    return ::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN;
}

}  // namespace

void setRuntimeFolder(int fd, const char* socketName) {
    socketEntry.store(socketName);
    runtimeFd.store(fd);
}

void end(int status) {
    removeSocket();
    ::_exit(status);
}

// The signal stays blocked while this runs: raised again with the default
// action, it ends the process as soon as the handler returns (a fault would
// also simply recur).
void onFatalSignal(int sig) {
    removeSocket();
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    ::sigaction(sig, &defaults, nullptr);
    ::raise(sig);
}

void catchFatalSignals() {
    // A stack overflow still finds a stack to run the handler on.
    static char altStack[64 * 1024];
    stack_t stack{};
    stack.ss_sp = altStack;
    stack.ss_size = sizeof altStack;
    ::sigaltstack(&stack, nullptr);
    struct sigaction sa {};
    sa.sa_handler = onFatalSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_ONSTACK;
    for (int sig = 1; sig < NSIG; ++sig)
        if (caughtHere(sig) && !startedIgnored(sig)) ::sigaction(sig, &sa, nullptr);
    if (!startedIgnored(SIGPIPE)) ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace platform::emergency
