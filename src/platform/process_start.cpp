#include "platform/process_start.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <initializer_list>

namespace platform {

void settleProcess() {
    // The lowest free descriptor is taken first, so each open fills the
    // first closed one of 0..2.
    for (int fd = 0; fd <= 2; ++fd)
        if (::fcntl(fd, F_GETFD) < 0) ::open("/dev/null", O_RDWR);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
    // Blocked quit signals could only be answered by SIGKILL, and a blocked
    // SIGALRM would keep a stuck host from ending on a quit. An inherited
    // "ignored" is a choice of the launcher and is kept.
    sigset_t quit;
    ::sigemptyset(&quit);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGALRM}) ::sigaddset(&quit, sig);
    ::sigprocmask(SIG_UNBLOCK, &quit, nullptr);
}

}  // namespace platform
