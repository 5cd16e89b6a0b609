// Starting children on Linux: vfork and exec, so that the child can ask the
// kernel for SIGTERM when the host ends (posix_spawn has no way to say so).
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/spawn.h"

namespace platform {
namespace {

void closeFrom(int first) {
    if (::syscall(SYS_close_range, first, ~0U, 0) == 0) return;
    for (long fd = first, end = ::sysconf(_SC_OPEN_MAX); fd < end; ++fd)
        ::close(static_cast<int>(fd));
}

// Everything the child needs, prepared before vfork: the child may only make
// system calls, never allocate.
struct Child {
    const SpawnRequest& request;
    char* const* argv;
    char* const* envp;
    pid_t parent;
    volatile int* failure;
};

[[noreturn]] void execChild(const Child& c) {
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &defaults, nullptr);
    // Asked for before exec; if the host is already gone, do not start at all.
    if (c.request.endsWithHost &&
        (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != c.parent)) {
        *c.failure = ESRCH;
        ::_exit(127);
    }
    const int streams[3] = {c.request.stdinFd, c.request.stdoutFd, c.request.stderrFd};
    for (int fd = 0; fd < 3; ++fd)
        if (streams[fd] >= 0 && ::dup2(streams[fd], fd) < 0) {
            *c.failure = errno;
            ::_exit(127);
        }
    closeFrom(3);
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (c.request.searchPath)
        ::execvpe(c.argv[0], c.argv, c.envp);
    else
        ::execve(c.argv[0], c.argv, c.envp);
    *c.failure = errno ? errno : ENOEXEC;
    ::_exit(127);
}

}  // namespace

pid_t spawnChild(const SpawnRequest& request) {
    if (request.argv.empty()) return -1;
    const auto argv = cStrings(request.argv);
    const auto envp = cStrings(request.env);
    volatile int failure = 0;
    const Child child{request, argv.data(), envp.data(), ::getpid(), &failure};
    // No handler of the host's may run in the child before exec resets them.
    sigset_t all, previous;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = ::vfork();
    if (pid == 0) execChild(child);
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (pid < 0) return -1;
    if (failure != 0) {
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        return -1;
    }
    return pid;
}

}  // namespace platform
