#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstring>

#include "platform/guard_link.h"

namespace platform::guard {

bool makeLink(int fds[2]) {
    return ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0;
}

// The guard watches a pidfd, which can never reach a process that reused the
// pid.
bool sendDescriptor(int link, int fd) {
    char byte = 0;
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof fd)] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof fd);
    std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
    return ::sendmsg(link, &msg, MSG_NOSIGNAL) == 1;
}

// Before its exec, the child sends the guard a pidfd of itself
// (spawn_linux.cpp): it never runs unwatched.
bool childHandsItselfOver() {
    return true;
}

// For a guard put in the place of one that ended: the host's pidfd of the
// child it has not reaped.
bool handOver(int hostEnd, pid_t child) {
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, child, 0));
    if (pidfd < 0) return false;
    const bool sent = sendDescriptor(hostEnd, pidfd);
    ::close(pidfd);
    return sent;
}

void standDown(int hostEnd) {
    ::send(hostEnd, &kStandDown, 1, MSG_NOSIGNAL);
}

}  // namespace platform::guard
