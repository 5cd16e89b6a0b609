#include "platform/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include "platform/event_loop.h"
#include "platform/files.h"
#include "platform/guard_link.h"
#include "platform/spawn.h"

namespace platform {
namespace {

std::vector<std::string> environmentStrings(const Environment& env) {
    std::vector<std::string> out;
    out.reserve(env.size());
    for (const auto& [name, value] : env) out.push_back(name + "=" + value);
    return out;
}

// Asked without waiting. An event loop's turn may report a descriptor that
// an earlier action of the same turn closed and another took the number of,
// so a watch checks again before it acts.
bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return fd >= 0 && ::poll(&p, 1, 0) == 1;
}

void reapNow(pid_t pid) {
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

// A child nobody waits for any more is reaped by the event loop once `ended`
// says it has ended, so that it never lingers as a zombie.
void reapWhenEnded(pid_t pid, FileHandle ended) {
    auto watched = std::make_shared<FileHandle>(std::move(ended));
    EventLoop::main().watchReadable(watched->fd(), [pid, watched] {
        if (!readable(watched->fd())) return;
        EventLoop::main().unwatch(watched->fd());
        reapNow(pid);
    });
}

}  // namespace

// Destroyed with its child running, it leaves the child to its guard (whose
// link closes now, as when the host ends) and the reaping to the event loop.
ChildProcess::~ChildProcess() {
    if (guardLink_.valid()) EventLoop::main().unwatch(guardLink_.fd());
    if (!ended_.valid()) return;
    EventLoop::main().unwatch(ended_.fd());
    reapWhenEnded(pid_, std::move(ended_));
}

bool ChildProcess::launch() {
    SpawnRequest request{.argv = {executable_},
                         .env = environmentStrings(environment_),
                         .stdoutFd = stdoutFd_,
                         .stderrFd = stderrFd_,
                         .ownSession = !guardProgram_.empty()};
    request.argv.insert(request.argv.end(), arguments_.begin(), arguments_.end());
    if (launched_) return false;  // one launch per object
    launched_ = true;
    const bool guarded = !guardProgram_.empty();
    const pid_t pid = guarded ? spawnGuarded(request) : spawnChild(request);
    if (pid <= 0) return false;
    pid_ = pid;
    // Only this object reaps the pid, so until it does the descriptor (and
    // every signal sent to the pid) reaches this child and no other.
    ended_ = watchForEnd(pid);
    if (!ended_.valid()) {
        // Unwatched, it may not run on; it ends on its SIGTERM.
        terminate();
        endGuard();
        reapNow(pid);
        pid_ = -1;
        return false;
    }
    EventLoop::main().watchReadable(ended_.fd(), [this] { reap(); });
    if (!guarded) return true;
    if (!guardArmed_) {
        terminate();  // unwatched, it may not run on
        endGuard();
        return false;
    }
    watchGuard();
    return true;
}

// The guard first, so that it watches the child before the child runs.
pid_t ChildProcess::spawnGuarded(SpawnRequest& request) {
    guardPid_ = guard::start(guardProgram_, guardLink_);
    if (guardPid_ <= 0) return -1;
    if (guard::childHandsItselfOver()) request.guardLinkFd = guardLink_.fd();
    const pid_t pid = spawnChild(request);
    if (pid <= 0) {
        endGuard();  // it would wait for ever for a child that never came
        return -1;
    }
    guardArmed_ = (guard::childHandsItselfOver() || guard::handOver(guardLink_.fd(), pid)) &&
                  guard::awaitArmed(guardLink_.fd());
    return pid;
}

bool ChildProcess::endSeen() const {
    return readable(ended_.fd());
}

void ChildProcess::reap() {
    if (!endSeen()) return;  // its end is not there yet: the wait would block
    EventLoop::main().unwatch(ended_.fd());
    reapNow(pid_);
    pid_ = -1;
    ended_ = FileHandle();
    if (auto handler = std::exchange(handler_, nullptr)) handler();
}

void ChildProcess::watchGuard() {
    EventLoop::main().watchReadable(guardLink_.fd(), [this] { onGuardLink(); });
}

// A guard that ends while its child runs and has not been stopped (SIGKILL is
// the one signal that ends it) is reaped and another put in its place, so the
// child is unwatched for no longer than a turn of the event loop. One that
// ends before it said it watches cannot run: then the child is stopped, as
// at launch.
void ChildProcess::onGuardLink() {
    char buf[16];
    ssize_t n;
    // Never waits: the watch may fire for a link that came in its place.
    while ((n = ::recv(guardLink_.fd(), buf, sizeof buf, MSG_DONTWAIT)) < 0 && errno == EINTR) {
    }
    if (n > 0 && std::memchr(buf, guard::kArmed, static_cast<std::size_t>(n))) guardArmed_ = true;
    if (n != 0) return;
    const bool wasArmed = guardArmed_;
    EventLoop::main().unwatch(guardLink_.fd());
    endGuard();
    // A guard ends when its child does: that needs no successor, even
    // before the event loop has reaped the child.
    if (!isRunning() || signalled_) return;
    if (wasArmed && replaceGuard()) return watchGuard();
    terminate();  // the link is gone: the SIGTERM alone
}

bool ChildProcess::replaceGuard() {
    guardPid_ = guard::start(guardProgram_, guardLink_, pid_);
    if (guardPid_ > 0) return true;
    endGuard();
    return false;
}

// Whatever the host started, it ends and reaps; the link goes with it.
void ChildProcess::endGuard() {
    if (guardPid_ > 0) {
        ::kill(guardPid_, SIGKILL);
        reapNow(guardPid_);
    }
    guardPid_ = -1;
    guardArmed_ = false;
    guardLink_ = FileHandle();
}

// Its pid is not reaped yet (only this object does that) and its end has
// not come.
bool ChildProcess::isRunning() const {
    return pid_ > 0 && !endSeen();
}

void ChildProcess::terminate() {
    if (!isRunning() || signalled_) return;
    signalled_ = true;
    if (guardLink_.valid()) {
        guard::standDown(guardLink_.fd());
        // One that never said it watches might yet: it is not left to.
        if (!guardArmed_ && guardPid_ > 0) ::kill(guardPid_, SIGKILL);
    }
    ::kill(pid_, SIGTERM);
}

void spawnDetachedQuietly(const std::vector<std::string>& argv, const Environment& env) {
    if (argv.empty()) return;
    const FileHandle null(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!null.valid()) return;
    const pid_t child = spawnChild({.argv = argv,
                                    .env = environmentStrings(env),
                                    .stdinFd = null.fd(),
                                    .stdoutFd = null.fd(),
                                    .stderrFd = null.fd(),
                                    .searchPath = true});
    if (child <= 0) return;
    // Without a descriptor to watch (none to spare), it stays a zombie until
    // the host ends: a thread or a blocking wait would cost more.
    if (auto ended = watchForEnd(child); ended.valid()) reapWhenEnded(child, std::move(ended));
}

}  // namespace platform
