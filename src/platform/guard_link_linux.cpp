#include <sys/socket.h>
#include <sys/types.h>

#include "platform/guard_link.h"

namespace platform::guard {

bool makeLink(int fds[2]) {
    return ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) == 0;
}

// The child handed itself over before its exec (spawn_linux.cpp); only the
// answer is left to wait for.
bool handOver(int hostEnd, pid_t) {
    return awaitArmed(hostEnd);
}

void standDown(int hostEnd) {
    ::send(hostEnd, &kStandDown, 1, MSG_NOSIGNAL);
}

}  // namespace platform::guard
