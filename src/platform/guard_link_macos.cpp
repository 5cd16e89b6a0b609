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

// posix_spawn runs nothing of ours between fork and exec.
bool childHandsItselfOver() {
    return false;
}

// The child is unreaped until the host has seen its end, so the pid the
// guard watches is still the child's.
bool handOver(int hostEnd, pid_t child) {
    return ::write(hostEnd, &child, sizeof child) == static_cast<ssize_t>(sizeof child);
}

void standDown(int hostEnd) {
    [[maybe_unused]] const ssize_t n = ::write(hostEnd, &kStandDown, 1);
}

}  // namespace platform::guard
