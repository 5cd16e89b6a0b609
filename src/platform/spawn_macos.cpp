// Starting children on macOS: posix_spawn. A guarded child is handed to its
// guard by pid after the spawn (guard_link_macos.cpp).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/event.h>

#include "platform/spawn.h"

namespace platform {
namespace {

struct SpawnAttributes {
    posix_spawnattr_t attr;
    explicit SpawnAttributes(bool ownSession) {
        posix_spawnattr_init(&attr);
        sigset_t all, none;
        sigfillset(&all);
        sigemptyset(&none);
        posix_spawnattr_setsigdefault(&attr, &all);
        posix_spawnattr_setsigmask(&attr, &none);
        // Nothing but the three standard streams is inherited.
        const int flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK |
                          POSIX_SPAWN_CLOEXEC_DEFAULT | (ownSession ? POSIX_SPAWN_SETSID : 0);
        posix_spawnattr_setflags(&attr, static_cast<short>(flags));
    }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attr); }
};

struct FileActions {
    posix_spawn_file_actions_t actions;
    FileActions() { posix_spawn_file_actions_init(&actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
};

}  // namespace

// A kqueue is readable while an event waits in it: here, the pid's exit.
FileHandle watchForEnd(pid_t pid) {
    FileHandle queue(::kqueue());
    if (!queue.valid()) return queue;
    ::fcntl(queue.fd(), F_SETFD, FD_CLOEXEC);
    struct kevent ended;
    EV_SET(&ended, static_cast<uintptr_t>(pid), EVFILT_PROC, EV_ADD | EV_ONESHOT, NOTE_EXIT, 0,
           nullptr);
    if (::kevent(queue.fd(), &ended, 1, nullptr, 0, nullptr) != 0) return FileHandle();
    return queue;
}

pid_t spawnChild(const SpawnRequest& request) {
    if (request.argv.empty()) return -1;
    FileActions fa;
    const int streams[3] = {request.stdinFd, request.stdoutFd, request.stderrFd};
    for (int fd = 0; fd < 3; ++fd) {
        if (streams[fd] >= 0)
            posix_spawn_file_actions_adddup2(&fa.actions, streams[fd], fd);
        else
            posix_spawn_file_actions_addinherit_np(&fa.actions, fd);
    }
    if (request.passFd == 3)
        posix_spawn_file_actions_addinherit_np(&fa.actions, 3);
    else if (request.passFd >= 0)
        posix_spawn_file_actions_adddup2(&fa.actions, request.passFd, 3);
    SpawnAttributes sa(request.ownSession);
    const auto argv = cStrings(request.argv);
    const auto envp = cStrings(request.env);
    auto* start = request.searchPath ? ::posix_spawnp : ::posix_spawn;
    pid_t pid = -1;
    if (start(&pid, argv[0], &fa.actions, &sa.attr, argv.data(), envp.data()) != 0) return -1;
    return pid;
}

}  // namespace platform
