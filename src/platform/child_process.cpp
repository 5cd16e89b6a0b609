#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

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

// A thread is the one thing launch() needs that can run out; it is made
// before the child exists, so running out never leaves a child unwatched.
template <typename F>
bool startDetached(F body) {
    try {
        std::thread(std::move(body)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace

ChildProcess::~ChildProcess() {
    clearTerminationHandler();
}

void ChildProcess::setTerminationHandler(std::function<void()> handler) {
    std::lock_guard lock(state_->mutex);
    state_->handler = std::move(handler);
}

bool ChildProcess::launch() {
    SpawnRequest request{.argv = {executable_},
                         .env = environmentStrings(environment_),
                         .stdoutFd = stdoutFd_,
                         .stderrFd = stderrFd_,
                         .ownSession = !state_->guardProgram.empty()};
    request.argv.insert(request.argv.end(), arguments_.begin(), arguments_.end());
    {
        std::lock_guard lock(state_->mutex);
        if (state_->launched) return false;  // one launch per object
        state_->launched = true;
    }
    if (!startDetached([state = state_] { waitForEnd(state); })) return false;
    const bool guarded = !state_->guardProgram.empty();
    const pid_t pid = guarded ? spawnGuarded(request) : spawnChild(request);
    // The waiting thread may reap the child only from here on: until then a
    // guard that watches it by pid sees the child's own process.
    {
        std::lock_guard lock(state_->mutex);
        state_->pid = pid;
        state_->running = pid > 0;
    }
    state_->started.notify_all();
    if (pid <= 0) return false;
    if (!guarded) return true;
    if (!state_->guardArmed) {
        terminate();  // unwatched, it may not run on
        std::lock_guard lock(state_->mutex);
        endGuard(*state_);
        return false;
    }
    watchGuard(state_);
    return true;
}

// The guard first, so that it watches the child before the child runs.
pid_t ChildProcess::spawnGuarded(SpawnRequest& request) {
    State& s = *state_;
    s.guardPid = guard::start(s.guardProgram, s.guardLink);
    if (s.guardPid <= 0) return -1;
    if (guard::childHandsItselfOver()) request.guardLinkFd = s.guardLink.fd();
    const pid_t pid = spawnChild(request);
    if (pid <= 0) {
        endGuard(s);  // it would wait for ever for a child that never came
        return -1;
    }
    s.guardArmed = (guard::childHandsItselfOver() || guard::handOver(s.guardLink.fd(), pid)) &&
                   guard::awaitArmed(s.guardLink.fd());
    return pid;
}

// A guard that ends while its child runs and has not been stopped (SIGKILL is
// the one signal that ends it) is reaped and another put in its place, so the
// child is unwatched for no longer than a turn of the event loop. One that
// ends before it said it watches cannot run: then the child is stopped, as
// at launch.
void ChildProcess::watchGuard(const std::shared_ptr<State>& state) {
    EventLoop::main().watchReadable(state->guardLink.fd(), [state] {
        std::lock_guard lock(state->mutex);
        char buf[16];
        ssize_t n;
        // Never waits: the watch may fire for a link that came in its place.
        while ((n = ::recv(state->guardLink.fd(), buf, sizeof buf, MSG_DONTWAIT)) < 0 &&
               errno == EINTR) {
        }
        if (n > 0 && std::memchr(buf, guard::kArmed, static_cast<std::size_t>(n)))
            state->guardArmed = true;
        if (n != 0) return;
        const bool wasArmed = state->guardArmed;
        EventLoop::main().unwatch(state->guardLink.fd());
        endGuard(*state);
        // A guard ends when its child does: that needs no successor, even
        // before the waiting thread has seen the end.
        siginfo_t info{};
        const bool ended = ::waitid(P_PID, static_cast<id_t>(state->pid), &info,
                                    WEXITED | WNOHANG | WNOWAIT) == 0 &&
                           info.si_pid != 0;
        if (!state->running || state->signalled || ended) return;
        if (wasArmed && replaceGuard(*state)) return watchGuard(state);
        state->signalled = true;
        ::kill(state->pid, SIGTERM);
    });
}

bool ChildProcess::replaceGuard(State& state) {
    state.guardPid = guard::start(state.guardProgram, state.guardLink);
    if (state.guardPid > 0 && guard::handOver(state.guardLink.fd(), state.pid)) return true;
    endGuard(state);
    return false;
}

// Whatever the host started, it ends and reaps; the link goes with it.
void ChildProcess::endGuard(State& state) {
    if (state.guardPid > 0) {
        ::kill(state.guardPid, SIGKILL);
        while (::waitpid(state.guardPid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    state.guardPid = -1;
    state.guardArmed = false;
    state.guardLink = FileHandle();
}

void ChildProcess::waitForEnd(const std::shared_ptr<State>& state) {
    pid_t pid;
    {
        std::unique_lock lock(state->mutex);
        state->started.wait(lock, [&] { return state->pid != 0; });
        pid = state->pid;
    }
    if (pid < 0) return;  // the launch failed
    // Wait without reaping first: until `running` is cleared under the lock,
    // the pid stays ours, so terminate() can never signal a recycled pid.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 &&
           errno == EINTR) {
    }
    std::function<void()> handler;
    {
        std::lock_guard lock(state->mutex);
        state->running = false;
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
        }
        handler = std::move(state->handler);
        state->handler = nullptr;
    }
    if (handler) handler();
}

bool ChildProcess::isRunning() const {
    return state_->running;
}

void ChildProcess::terminate() {
    std::lock_guard lock(state_->mutex);
    if (!state_->running || state_->signalled) return;
    state_->signalled = true;
    if (state_->guardLink.valid()) {
        guard::standDown(state_->guardLink.fd());
        // One that never said it watches might yet: it is not left to.
        if (!state_->guardArmed && state_->guardPid > 0) ::kill(state_->guardPid, SIGKILL);
    }
    ::kill(state_->pid, SIGTERM);
}

void spawnDetachedQuietly(const std::vector<std::string>& argv, const Environment& env) {
    if (argv.empty()) return;
    const FileHandle null(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!null.valid()) return;
    // The reaper waits for a pid it learns once the child runs.
    auto pid = std::make_shared<std::atomic<pid_t>>(0);
    if (!startDetached([pid] {
            pid->wait(0);
            if (*pid > 0)
                while (::waitpid(*pid, nullptr, 0) < 0 && errno == EINTR) {
                }
        }))
        return;
    const pid_t child = spawnChild({.argv = argv,
                                    .env = environmentStrings(env),
                                    .stdinFd = null.fd(),
                                    .stdoutFd = null.fd(),
                                    .stderrFd = null.fd(),
                                    .searchPath = true});
    pid->store(child);
    pid->notify_all();
}

}  // namespace platform
