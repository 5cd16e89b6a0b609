#include <fcntl.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/guard_link.h"

namespace platform::guard {

bool makeLink(int fds[2]) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return false;
    const int on = 1;
    for (int i = 0; i < 2; ++i)
        if (::fcntl(fds[i], F_SETFD, FD_CLOEXEC) != 0 ||
            ::setsockopt(fds[i], SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on) != 0) {
            ::close(fds[0]);
            ::close(fds[1]);
            return false;
        }
    return true;
}

// The child is unreaped until this returns (the host waits for it only
// afterwards), so the pid the guard watches is still the driver's.
bool handOver(int hostEnd, pid_t child) {
    return ::write(hostEnd, &child, sizeof child) == static_cast<ssize_t>(sizeof child) &&
           awaitArmed(hostEnd);
}

void standDown(int hostEnd) {
    [[maybe_unused]] const ssize_t n = ::write(hostEnd, &kStandDown, 1);
}

}  // namespace platform::guard
