// Preloaded into the built host: its first wait with no deadline is preceded
// by a SIGTERM to itself, as when a quit lands just before a wait begins and
// so interrupts nothing. The signal is held back until the file that
// QUIT_ONCE_EXISTS names exists (the driver is under way), up to twenty seconds.
// Unfortified: glibc's fortified headers define poll inline, which clang will
// not let this file define again.
#undef _FORTIFY_SOURCE
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace {

// Plain data: the constructor below may run before C++ initializers do.
bool raised = false;
char waitFor[4096];

__attribute__((constructor)) void takeSettings() {
    if (const char* path = ::getenv("QUIT_ONCE_EXISTS"))
        ::strncpy(waitFor, path, sizeof waitFor - 1);
    // The host's children get nothing of this.
    ::unsetenv("LD_PRELOAD");
    ::unsetenv("QUIT_ONCE_EXISTS");
}

}  // namespace

extern "C" int poll(pollfd* fds, nfds_t count, int timeout) {
    if (timeout < 0 && !raised) {
        raised = true;
        for (int i = 0; i < 2000 && *waitFor && ::access(waitFor, F_OK) != 0; ++i) ::usleep(10'000);
        ::kill(::getpid(), SIGTERM);  // handled before kill returns
    }
    timespec limit{timeout / 1000, (timeout % 1000) * 1'000'000L};
    return ::ppoll(fds, count, timeout < 0 ? nullptr : &limit, nullptr);
}
