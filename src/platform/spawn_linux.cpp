// Starting children on Linux: vfork and exec, so that a guarded child can
// hand itself to its guard before exec (posix_spawn has no place for that).
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "platform/guard_link.h"
#include "platform/spawn.h"

namespace platform {
namespace {

void closeFrom(int first) {
    if (::syscall(SYS_close_range, first, ~0U, 0) == 0) return;
    for (long fd = first, end = ::sysconf(_SC_OPEN_MAX); fd < end; ++fd)
        ::close(static_cast<int>(fd));
}

// Sends the guard a pidfd of this very process. The guard runs already and
// reads it before it can see the link close, so a host killed at any moment
// after this still has its driver stopped.
bool handSelfToGuard(int link) {
    const int self = static_cast<int>(::syscall(SYS_pidfd_open, ::syscall(SYS_getpid), 0));
    return self >= 0 && guard::sendDescriptor(link, self);
}

// Everything the child needs, prepared before vfork: the child may only make
// system calls, never allocate.
struct Child {
    const SpawnRequest& request;
    char* const* argv;
    char* const* envp;
    volatile int* failure;
};

[[noreturn]] void execChild(const Child& c) {
    struct sigaction defaults {};
    defaults.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &defaults, nullptr);
    if (c.request.ownSession && ::setsid() < 0) {
        *c.failure = errno;
        ::_exit(127);
    }
    if (c.request.guardLinkFd >= 0 && !handSelfToGuard(c.request.guardLinkFd)) {
        *c.failure = errno ? errno : ECHILD;
        ::_exit(127);
    }
    const int streams[3] = {c.request.stdinFd, c.request.stdoutFd, c.request.stderrFd};
    for (int fd = 0; fd < 3; ++fd)
        if (streams[fd] >= 0 && ::dup2(streams[fd], fd) < 0) {
            *c.failure = errno;
            ::_exit(127);
        }
    // dup2 onto itself would keep close-on-exec: clear it instead.
    const int pass = c.request.passFd;
    if (pass >= 0 && (pass == 3 ? ::fcntl(3, F_SETFD, 0) : ::dup2(pass, 3)) < 0) {
        *c.failure = errno;
        ::_exit(127);
    }
    closeFrom(pass >= 0 ? 4 : 3);
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

FileHandle watchForEnd(pid_t pid) {
    const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd >= 0) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return FileHandle(fd);
}

pid_t spawnChild(const SpawnRequest& request) {
    if (request.argv.empty()) return -1;
    const auto argv = cStrings(request.argv);
    const auto envp = cStrings(request.env);
    volatile int failure = 0;
    const Child child{request, argv.data(), envp.data(), &failure};
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
