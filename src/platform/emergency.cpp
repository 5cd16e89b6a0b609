#include "platform/emergency.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>

namespace platform::emergency {
namespace {

std::atomic<int> runtimeFd{-1};

void removeSocket() {
    if (const int fd = runtimeFd.load(); fd >= 0) ::unlinkat(fd, "driver.sock", 0);
}

// The signal stays blocked while this runs: raised again with the default
// action, it ends the process as soon as the handler returns (a fault would
// also simply recur).
void onCrash(int sig) {
    removeSocket();
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    ::sigaction(sig, &defaults, nullptr);
    ::raise(sig);
}

}  // namespace

void setRuntimeFolder(int fd) {
    runtimeFd.store(fd);
}

void end(int status) {
    removeSocket();
    ::_exit(status);
}

void catchCrashes() {
    // A stack overflow still finds a stack to run the handler on.
    static char altStack[64 * 1024];
    stack_t stack{};
    stack.ss_sp = altStack;
    stack.ss_size = sizeof altStack;
    ::sigaltstack(&stack, nullptr);
    struct sigaction sa {};
    sa.sa_handler = onCrash;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_ONSTACK;
    for (int sig : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) ::sigaction(sig, &sa, nullptr);
}

}  // namespace platform::emergency
