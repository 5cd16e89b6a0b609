#include "platform/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <thread>

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
                         .stderrFd = stderrFd_};
    request.argv.insert(request.argv.end(), arguments_.begin(), arguments_.end());
    {
        std::lock_guard lock(state_->mutex);
        if (state_->launched) return false;  // one launch per object
        state_->launched = true;
    }
    if (!startDetached([state = state_] { waitForEnd(state); })) return false;
    const pid_t pid = guard_.empty() ? spawnChild(request) : spawnGuarded(request);
    // The waiting thread may reap the child only from here on: until then a
    // guard that watches it by pid sees the driver's own process.
    const bool armed = pid > 0 && (guard_.empty() || guard::handOver(state_->guardLink.fd(), pid));
    {
        std::lock_guard lock(state_->mutex);
        state_->pid = pid;
        state_->running = pid > 0;
    }
    state_->started.notify_all();
    if (pid > 0 && !armed) terminate();  // unwatched: it may not run on
    return armed;
}

// The guard first, so that it watches the child before the child runs. The
// guard's link is made here and only the host keeps its end.
pid_t ChildProcess::spawnGuarded(SpawnRequest& request) {
    int link[2];
    if (!guard::makeLink(link)) return -1;
    FileHandle hostEnd(link[0]), guardEnd(link[1]);
    const FileHandle null(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!null.valid()) return -1;
    const pid_t guardPid = spawnChild({.argv = {guard_},
                                       .env = {},  // it needs none
                                       .stdinFd = null.fd(),
                                       .stdoutFd = null.fd(),
                                       .stderrFd = null.fd(),
                                       .passFd = guardEnd.fd()});
    guardEnd = FileHandle();
    {
        std::lock_guard lock(state_->mutex);
        state_->guardPid = guardPid;
    }
    if (guardPid <= 0) return -1;
    request.guardLinkFd = hostEnd.fd();
    const pid_t pid = spawnChild(request);
    // Without a driver the guard sees its link close, and ends.
    if (pid > 0) state_->guardLink = std::move(hostEnd);
    return pid;
}

void ChildProcess::waitForEnd(const std::shared_ptr<State>& state) {
    pid_t pid;
    {
        std::unique_lock lock(state->mutex);
        state->started.wait(lock, [&] { return state->pid != 0; });
        pid = state->pid;
    }
    const auto reapGuard = [&] {
        if (state->guardPid > 0)
            while (::waitpid(state->guardPid, nullptr, 0) < 0 && errno == EINTR) {
            }
    };
    if (pid < 0) return reapGuard();  // the launch failed
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
    reapGuard();  // it ends once the child has
}

bool ChildProcess::isRunning() const {
    return state_->running;
}

void ChildProcess::terminate() {
    std::lock_guard lock(state_->mutex);
    if (!state_->running || state_->signalled) return;
    if (state_->guardLink.valid()) guard::standDown(state_->guardLink.fd());
    ::kill(state_->pid, SIGTERM);
    state_->signalled = true;
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
