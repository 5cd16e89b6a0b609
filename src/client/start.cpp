#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include "client/causes.h"
#include "client/host_process.h"
#include "platform/files.h"
#include "quorva/client.h"

extern char** environ;

namespace quorva {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kPoll = 10ms;

// In a session of its own with its standard streams on /dev/null, so that
// neither the caller's terminal nor its pipes tie the host to the caller; all
// signals at their defaults, so a host started from a program that ignores or
// blocks SIGTERM can still be stopped.
pid_t spawnDetached(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    // The home is absolute; the caller's folder need not stay mounted.
    posix_spawn_file_actions_addchdir_np(&files, "/");
    short flags = POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    detail::inheritOnlyStandardStreams(&files, &flags);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setflags(&attr, flags);
    pid_t pid = -1;
    const int error = ::posix_spawn(&pid, args[0], &files, &attr, args.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&files);
    errno = error;
    return error ? -1 : pid;
}

// A host this call started. It is never stopped by us; if it outlives the
// call, a thread of its own reaps it so that it leaves no zombie.
class StartedHost {
  public:
    explicit StartedHost(pid_t pid) : pid_(pid) {}
    StartedHost(const StartedHost&) = delete;
    StartedHost& operator=(const StartedHost&) = delete;
    ~StartedHost() {
        if (!ended()) std::thread([pid = pid_] { ::waitpid(pid, nullptr, 0); }).detach();
    }
    pid_t pid() const { return pid_; }

    bool ended() {
        if (ended_) return true;
        const pid_t r = ::waitpid(pid_, &status_, WNOHANG);
        if (r == pid_) return ended_ = true;
        // Reaped behind our back (SIGCHLD ignored): gone is all we can know,
        // and it counts as a lost race so that the wait goes on.
        if (r < 0 && ::kill(pid_, 0) != 0) {
            status_ = 0;
            return ended_ = true;
        }
        return false;
    }
    // Exit 0 before any status: it found another host holding the home.
    bool lostTheRace() const { return ended_ && WIFEXITED(status_) && WEXITSTATUS(status_) == 0; }
    int status() const { return status_; }

  private:
    pid_t pid_;
    int status_ = 0;
    bool ended_ = false;
};

std::vector<std::string> hostArguments(const std::string& host, const StartOptions& o) {
    std::vector<std::string> argv{host, "--home", o.home};
    if (o.english) argv.push_back("--english");
    if (o.permissions) argv.push_back("--permissions");
    return argv;
}

double secondsOf(std::chrono::milliseconds d) {
    return static_cast<double>(d.count()) / 1000.0;
}

enum class Request { Taken, HostGone, TimedOut };

// The trigger is taken at the host's next tick.
Request awaitRequestTaken(const std::string& home, Clock::time_point deadline) {
    const std::string trigger = platform::joinPath(runtimeFolder(home), "show-permissions");
    for (;; std::this_thread::sleep_for(kPoll)) {
        if (!platform::exists(trigger)) return Request::Taken;
        if (!readStatus(home).running) return Request::HostGone;
        if (Clock::now() > deadline) return Request::TimedOut;
    }
}

}  // namespace

Outcome startHost(const StartOptions& o) {
    const auto deadline = Clock::now() + o.timeout;
    if (o.home.empty() || o.home.front() != '/')
        return Outcome::failure("the home folder must be an absolute path: '" + o.home + "'");
    std::string host = o.host;
    std::unique_ptr<StartedHost> child;
    auto retry = 100ms;
    auto nextSpawn = Clock::now();
    for (;; std::this_thread::sleep_for(kPoll)) {
        if (const Status s = readStatus(o.home); s.running) {
            // Ours was started with --permissions and shows the window itself.
            if (!o.permissions || (child && s.hostPid == child->pid())) return Outcome::success();
            if (auto asked = requestWindow(o.home); !asked) return asked;
            const Request r = awaitRequestTaken(o.home, deadline);
            if (r == Request::Taken) return Outcome::success();
            if (r == Request::TimedOut)
                return Outcome::failure("the host did not take the window request within " +
                                        detail::seconds(secondsOf(o.timeout)));
            continue;  // that host has ended: start one
        }
        if (child && child->ended()) {
            // A home that cannot hold the runtime folder has no host to lose to.
            const auto problem =
                detail::folderProblem(platform::joinPath(runtimeFolder(o.home), "clients"));
            if (!child->lostTheRace() || !problem.empty())
                return Outcome::failure(detail::whyHostFailed(o.home, host, child->status()));
            // The winner may be starting (it will write soon) or quitting (it
            // will not): try again now and then until a host writes.
            child.reset();
            nextSpawn = Clock::now() + retry;
            retry = std::min<std::chrono::milliseconds>(retry * 2, 1s);
        }
        if (Clock::now() > deadline)
            return Outcome::failure("no host wrote its status in " + o.home + " within " +
                                    detail::seconds(secondsOf(o.timeout)));
        if (!child && Clock::now() >= nextSpawn) {
            if (host.empty()) host = findHost().value_or("");
            if (host.empty())
                return Outcome::failure(
                    "no host binary: quorva-desktop is neither installed beside this program nor "
                    "on PATH");
            const pid_t pid = spawnDetached(hostArguments(host, o));
            if (pid < 0)
                return Outcome::failure("cannot run " + host + ": " + std::strerror(errno));
            child = std::make_unique<StartedHost>(pid);
        }
    }
}

Outcome waitForDriver(const std::string& home, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const std::string path = platform::joinPath(runtimeFolder(home), "driver.sock");
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path)
        return Outcome::failure("the socket path is too long for a Unix socket: " + path);
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    for (;; std::this_thread::sleep_for(kPoll)) {
        platform::FileHandle sock(::socket(AF_UNIX, SOCK_STREAM, 0));
        if (!sock.valid()) return Outcome::failure(std::string("socket: ") + std::strerror(errno));
        // Non-blocking: a driver whose backlog is full must not hold us past the deadline.
        ::fcntl(sock.fd(), F_SETFD, FD_CLOEXEC);
        ::fcntl(sock.fd(), F_SETFL, O_NONBLOCK);
        if (::connect(sock.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
            return Outcome::success();
        if (Clock::now() > deadline)
            return Outcome::failure("the driver did not accept a connection on " + path +
                                    " within " + detail::seconds(secondsOf(timeout)));
    }
}

}  // namespace quorva
