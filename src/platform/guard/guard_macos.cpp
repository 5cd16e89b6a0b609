// quorva-driver-guard, started by the host with its driver (and again should
// it end while the driver runs). It holds one end of a link whose other end
// only the host holds. When the link closes without the host having said it
// stops the driver itself (the host was killed or crashed), it sends the
// driver its one SIGTERM. The driver is watched with kqueue from before the
// host may reap it, so an exit is seen first and a process that reused the
// pid is never signalled. It ends then, at once when the driver ends by
// itself, or when the host stands it down; no signal but SIGKILL ends it
// otherwise, and the host puts a new guard in place of one that ended.
// In the order kqueue(2) gives them.
#include <sys/types.h>

#include <sys/event.h>
#include <sys/time.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "platform/guard_link.h"

using namespace platform::guard;

int main() {
    // It runs in a session of its own, so no group or terminal signal meant
    // for the host comes here; whatever is sent to it directly must not
    // leave the driver unguarded either.
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP && sig != SIGCHLD) ::signal(sig, SIG_IGN);
    pid_t driver = 0;
    if (::read(kLinkFd, &driver, sizeof driver) != static_cast<ssize_t>(sizeof driver) ||
        driver <= 0)
        return 0;
    const int queue = ::kqueue();
    struct kevent watch[2];
    EV_SET(&watch[0], driver, EVFILT_PROC, EV_ADD, NOTE_EXIT, 0, nullptr);
    EV_SET(&watch[1], kLinkFd, EVFILT_READ, EV_ADD, 0, 0, nullptr);
    // Fails when the driver has ended already: the host sees no answer.
    if (queue < 0 || ::kevent(queue, watch, 2, nullptr, 0, nullptr) != 0) return 0;
    // Should the host be gone already, the next event says so.
    [[maybe_unused]] const ssize_t sent = ::write(kLinkFd, &kArmed, 1);
    for (;;) {
        struct kevent events[2];
        const int n = ::kevent(queue, nullptr, 0, events, 2, nullptr);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return 1;
        bool hostGone = false;
        for (int i = 0; i < n; ++i) {
            if (events[i].filter == EVFILT_PROC) return 0;  // the driver ended by itself
            char byte = 0;
            const ssize_t got = ::read(kLinkFd, &byte, 1);
            if (got == 1 && byte == kStandDown) return 0;
            if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) hostGone = true;
        }
        if (hostGone) {
            ::kill(driver, SIGTERM);
            return 0;
        }
    }
}
