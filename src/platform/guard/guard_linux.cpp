// quorva-driver-guard, started by the host together with its driver (and
// again should it end while the driver runs). It holds one end of a link
// whose other end only the host holds. When the link closes without the host
// having said it stops the driver itself (the host was killed or crashed), it
// sends the driver its one SIGTERM, through a pidfd, so a process that reused
// the pid is never signalled. It ends then, at once when the driver ends by
// itself, or when the host stands it down.
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/guard_link.h"

using namespace platform::guard;

namespace {

// The driver's pidfd, which the driver sends before its exec; -1 when the
// link closed first.
int receiveDriver() {
    char byte;
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    ssize_t n;
    while ((n = ::recvmsg(kLinkFd, &msg, MSG_CMSG_CLOEXEC)) < 0 && errno == EINTR) {
    }
    const cmsghdr* c = n == 1 ? CMSG_FIRSTHDR(&msg) : nullptr;
    if (!c || c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) return -1;
    int fd;
    std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
    return fd;
}

}  // namespace

int main() {
    // It runs in a session of its own, so nothing sent to the host's group or
    // terminal comes here; what is sent to it directly must not leave the
    // driver unwatched either. SIGKILL alone ends it, and the host then puts
    // another guard in its place.
    for (int sig = 1; sig < NSIG; ++sig)
        if (sig != SIGKILL && sig != SIGSTOP && sig != SIGCHLD) ::signal(sig, SIG_IGN);
    const int driver = receiveDriver();
    if (driver < 0) return 0;
    // Should the host be gone already, the poll below sees the link closed.
    ::send(kLinkFd, &kArmed, 1, MSG_NOSIGNAL);
    pollfd watch[2] = {{driver, POLLIN, 0}, {kLinkFd, POLLIN, 0}};
    for (;;) {
        if (::poll(watch, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return 1;
        }
        if (watch[0].revents) return 0;  // the driver ended by itself
        char byte;
        const ssize_t n = ::read(kLinkFd, &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n == 1 && byte == kStandDown) return 0;
        if (n == 1) continue;
        ::syscall(SYS_pidfd_send_signal, driver, SIGTERM, nullptr, 0);
        return 0;
    }
}
