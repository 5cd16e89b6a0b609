#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "client/causes.h"
#include "client/host_process.h"
#include "client/trust.h"
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
    StartedHost(pid_t pid, off_t logSize) : pid_(pid), logFrom_(logSize) {}
    StartedHost(const StartedHost&) = delete;
    StartedHost& operator=(const StartedHost&) = delete;
    ~StartedHost() {
        if (!ended()) std::thread([pid = pid_] { ::waitpid(pid, nullptr, 0); }).detach();
    }
    pid_t pid() const { return pid_; }
    off_t logFrom() const { return logFrom_; }

    bool ended() {
        if (ended_) return true;
        const pid_t r = ::waitpid(pid_, &status_, WNOHANG);
        if (r == pid_) return ended_ = true;
        // Reaped behind our back (SIGCHLD ignored): gone is all we can know.
        if (r < 0 && ::kill(pid_, 0) != 0) {
            status_ = 0;
            return ended_ = true;
        }
        return false;
    }
    // Exit 0 without ever holding the home: it found another host holding it.
    bool lostTheRace() const {
        return ended_ && !held && WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
    }
    int status() const { return status_; }
    bool held = false;  // seen holding the home's lock

  private:
    pid_t pid_;
    off_t logFrom_;
    int status_ = 0;
    bool ended_ = false;
};

std::vector<std::string> hostArguments(const std::string& host, const StartOptions& o) {
    std::vector<std::string> argv{host, "--home", o.home};
    if (o.english) argv.push_back("--english");
    if (o.permissions) argv.push_back("--permissions");
    return argv;
}

std::string within(std::chrono::milliseconds d) {
    return " within " + detail::seconds(static_cast<double>(d.count()) / 1000.0);
}

off_t sizeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

std::optional<sockaddr_un> socketAddress(const std::string& path) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) return std::nullopt;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    return addr;
}

std::string tooLong(const std::string& path) {
    return "the socket path " + path + " is too long for a Unix socket (" +
           std::to_string(path.size()) + " bytes, at most " +
           std::to_string(sizeof(sockaddr_un::sun_path) - 1) + "): choose a shorter home folder";
}

// One try, without waiting: a driver whose backlog is full must not hold us
// past a deadline.
bool accepts(const sockaddr_un& addr) {
    platform::FileHandle sock(::socket(AF_UNIX, SOCK_STREAM, 0));
    if (!sock.valid()) return false;
    ::fcntl(sock.fd(), F_SETFD, FD_CLOEXEC);
    ::fcntl(sock.fd(), F_SETFL, O_NONBLOCK);
    return ::connect(sock.fd(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
}

// Whoever else put a socket there (only possible where others could write)
// must not be mistaken for the driver; a link is judged by what it reaches.
std::string distrustSocket(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return {};
    return detail::distrust(detail::Entry::Socket, path, st);
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

// One startHost call: the host it started, if any, and what it has seen.
struct Start {
    explicit Start(const StartOptions& options) : o(options) {}
    const StartOptions& o;
    const std::string runtime = runtimeFolder(o.home);
    const std::string socket = platform::joinPath(runtime, "driver.sock");
    const std::string log = platform::joinPath(runtime, "desktop.log");
    const Clock::time_point deadline = Clock::now() + o.timeout;
    std::string host = o.host;
    std::unique_ptr<StartedHost> child;
    bool otherHolderSeen = false, retried = false;
    std::chrono::milliseconds retry{100};
    Clock::time_point nextSpawn = Clock::now();

    // Why a host it started ended before its driver served.
    std::string whyEnded() const {
        if (!child->held) return detail::whyHostFailed(o.home, host, child->status());
        const std::string last = detail::lastLogLine(log, child->logFrom());
        return "the host (pid " + std::to_string(child->pid()) + ") " +
               detail::howItEnded(child->status()) +
               " before its driver accepted connections: see " + log +
               (last.empty() ? "" : ", which ends " + last);
    }

    std::string timedOut(const Status& s, int holder) const {
        if (s.running)
            return "the driver of the host (pid " + std::to_string(s.hostPid) +
                   ") did not accept a connection on " + socket + within(o.timeout) + ": see " +
                   log;
        if (holder > 0)
            return "the host (pid " + std::to_string(holder) + ") holding " + o.home +
                   " did not write its status" + within(o.timeout);
        if (holder < 0)
            return "cannot tell whether a host holds " + o.home + ": " + std::strerror(errno);
        return "no host came up in " + o.home + within(o.timeout);
    }

    // The host it started has ended: a failure, or a race lost to a host that
    // may be quitting. A host that ends at once although nobody else was seen
    // holding the home is tried once more, never in a loop.
    std::optional<Outcome> childEnded() {
        if (!child->lostTheRace() || (!otherHolderSeen && std::exchange(retried, true)))
            return Outcome::failure(child->lostTheRace()
                                        ? "the host ended at once (exit status 0) without taking " +
                                              o.home + ": see " + log
                                        : whyEnded());
        child.reset();
        nextSpawn = Clock::now() + retry;
        retry = std::min<std::chrono::milliseconds>(retry * 2, 1s);
        return std::nullopt;
    }

    std::optional<Outcome> spawn() {
        if (host.empty()) host = findHost().value_or("");
        if (host.empty())
            return Outcome::failure(
                "no host binary: quorva-desktop is neither installed beside this program nor "
                "on PATH");
        const off_t logSize = sizeOf(log);
        const pid_t pid = spawnDetached(hostArguments(host, o));
        if (pid < 0) return Outcome::failure("cannot run " + host + ": " + std::strerror(errno));
        child = std::make_unique<StartedHost>(pid, logSize);
        return std::nullopt;
    }

    // The running host serves: done, once the window is asked for if wanted.
    std::optional<Outcome> served(const Status& s) {
        // Ours was started with --permissions and shows the window itself.
        if (!o.permissions || (child && s.hostPid == child->pid())) return Outcome::success();
        if (auto asked = requestWindow(o.home); !asked) return asked;
        switch (awaitRequestTaken(o.home, deadline)) {
            case Request::Taken:
                return Outcome::success();
            case Request::TimedOut:
                return Outcome::failure("the host did not take the window request" +
                                        within(o.timeout));
            case Request::HostGone:
                break;
        }
        return std::nullopt;  // that host has ended: start one
    }

    std::optional<Outcome> step(const sockaddr_un& address) {
        if (auto why = detail::distrustFolder(runtime); !why.empty()) return Outcome::failure(why);
        const Status s = readStatus(o.home);
        // Unknown for now (out of descriptors): no host is started on a guess.
        const int holder = s.running ? s.hostPid : detail::lockHolder(runtime).value_or(-1);
        if (child && !child->held) child->held = detail::isHostOf(child->pid(), runtime);
        if (holder > 0 && (!child || holder != child->pid())) otherHolderSeen = true;
        if (s.running) {
            if (auto why = distrustSocket(socket); !why.empty()) return Outcome::failure(why);
            if (accepts(address))
                if (auto done = served(s)) return done;
        }
        if (child && child->ended())
            if (auto failed = childEnded()) return failed;
        if (Clock::now() > deadline) return Outcome::failure(timedOut(s, holder));
        // Only into a free home: a holder that has not written yet is waited for.
        if (!child && !holder && Clock::now() >= nextSpawn) return spawn();
        return std::nullopt;
    }
};

}  // namespace

Outcome startHost(const StartOptions& o) {
    if (o.home.empty() || o.home.front() != '/')
        return Outcome::failure("the home folder must be an absolute path: '" + o.home + "'");
    Start start(o);
    // The host could not serve there: no host is started for nothing.
    const auto address = socketAddress(start.socket);
    if (!address) return Outcome::failure(tooLong(start.socket));
    for (;; std::this_thread::sleep_for(kPoll))
        if (auto done = start.step(*address)) return *done;
}

Outcome waitForDriver(const std::string& home, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const std::string runtime = runtimeFolder(home);
    const std::string path = platform::joinPath(runtime, "driver.sock");
    const auto address = socketAddress(path);
    if (!address) return Outcome::failure(tooLong(path));
    for (;; std::this_thread::sleep_for(kPoll)) {
        for (const auto& why : {detail::distrustFolder(runtime), distrustSocket(path)})
            if (!why.empty()) return Outcome::failure(why);
        if (accepts(*address)) return Outcome::success();
        if (Clock::now() > deadline)
            return Outcome::failure("the driver did not accept a connection on " + path +
                                    within(timeout));
    }
}

}  // namespace quorva
