#include <fcntl.h>
#include <signal.h>
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
#include "client/driver.h"
#include "client/host_process.h"
#include "client/status_json.h"
#include "client/trust.h"
#include "contract/entries.h"
#include "platform/files.h"
#include "quorva/client.h"

extern char** environ;

namespace quorva {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kPoll = 10ms;

// A host serves within a few tens of milliseconds of its start: looked at
// often then, so that a start returns moments after its driver serves, and
// at kPoll later on.
std::chrono::milliseconds pauseAfter(Clock::duration elapsed) {
    return elapsed < 100ms ? 2ms : kPoll;
}

// Writes all of `size` bytes, or fails; safe between fork and exec.
bool writeAll(int fd, const void* data, std::size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, at, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n, size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads exactly `size` bytes; false on an early end.
bool readAll(int fd, void* data, std::size_t size) {
    char* at = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, at, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n, size -= static_cast<std::size_t>(n);
    }
    return true;
}

void defaultSignals() {
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}

// Keeps `fd` as descriptor `to` (close-on-exec), standard streams on
// /dev/null, and closes everything else.
void keepOnly(int fd, int to) {
    if (fd != to) ::dup2(fd, to);
    ::fcntl(to, F_SETFD, FD_CLOEXEC);
    detail::closeDescriptorsFrom(to + 1);
    const int null = ::open("/dev/null", O_RDWR);
    for (int std = 0; std < 3; ++std)
        if (null >= 0 && null != std) ::dup2(null, std);
    if (null > to) ::close(null);
}

// What the process between us and the host reports on its pipe: the host's
// pid and why it could not be run (errno, 0 when it runs), then its wait
// status once it has ended.
struct Launch {
    int pid;
    int error;
};

// Runs in the process between: starts the host, tells us of it and of its
// end, and is ended by us (SIGKILL) when this call no longer needs it. Only
// calls that are safe after fork: the caller may have threads.
[[noreturn]] void monitor(char* const* argv, char* const* envp, int report) {
    defaultSignals();
    keepOnly(report, 3);
    int failed[2];
    Launch launch{-1, 0};
    if (!detail::makePipe(failed)) {
        launch.error = errno;
        writeAll(3, &launch, sizeof launch);
        ::_exit(1);
    }
    launch.pid = ::fork();
    if (launch.pid == 0) {
        // The host: a session of its own and its standard streams on
        // /dev/null, so that neither the caller's terminal nor its pipes tie
        // it to the caller; every signal at its default, so a host started
        // from a program that ignores or blocks SIGTERM can still be stopped.
        keepOnly(failed[1], 3);
        ::setsid();
        // The home is absolute; the caller's folder need not stay mounted.
        [[maybe_unused]] const int stayed = ::chdir("/");
        ::execve(argv[0], argv, envp);
        const int error = errno;
        writeAll(3, &error, sizeof error);
        ::_exit(127);
    }
    if (launch.pid < 0) launch.error = errno;
    ::close(failed[1]);
    if (launch.pid > 0 && !readAll(failed[0], &launch.error, sizeof launch.error))
        launch.error = 0;  // closed by the exec: it runs
    if (!writeAll(3, &launch, sizeof launch) || launch.pid < 0) ::_exit(1);
    int status = 0;
    while (::waitpid(launch.pid, &status, 0) < 0 && errno == EINTR) {
    }
    writeAll(3, &status, sizeof status);
    ::_exit(0);
}

// A host this call started. It is not our child but our grandchild: the
// process between reports its end for as long as this call lasts, and is
// then ended, so the host is left to init and the caller holds neither a
// zombie nor a thread that waits to reap one. It is never stopped by us.
class StartedHost {
  public:
    // None, with the cause, when the host could not be run.
    static std::unique_ptr<StartedHost> spawn(const std::vector<std::string>& args, off_t logSize,
                                              std::string& error) {
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        int report[2];
        if (!detail::makePipe(report)) return error = std::strerror(errno), nullptr;
        const pid_t between = ::fork();
        if (between == 0) monitor(argv.data(), environ, report[1]);
        const int forkError = errno;
        ::close(report[1]);
        auto started = std::unique_ptr<StartedHost>(new StartedHost(between, report[0], logSize));
        if (between < 0) return error = std::strerror(forkError), nullptr;
        Launch launch{-1, 0};
        if (!readAll(report[0], &launch, sizeof launch))
            return error = "the process that starts it ended", nullptr;
        if (launch.error) return error = std::strerror(launch.error), nullptr;
        started->pid_ = launch.pid;
        ::fcntl(report[0], F_SETFL, O_NONBLOCK);
        return started;
    }
    StartedHost(const StartedHost&) = delete;
    StartedHost& operator=(const StartedHost&) = delete;
    // Signalled only while it is still ours to reap (a caller that reaps
    // every child may have taken it already, and its pid may be anyone's).
    ~StartedHost() {
        ::close(report_);
        if (between_ <= 0 || ::waitpid(between_, nullptr, WNOHANG) != 0) return;
        ::kill(between_, SIGKILL);
        while (::waitpid(between_, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    pid_t pid() const { return pid_; }
    off_t logFrom() const { return logFrom_; }

    bool ended() {
        if (ended_) return true;
        const ssize_t n = ::read(report_, &status_, sizeof status_);
        if (n == sizeof status_) return ended_ = true;
        // The process between is gone (killed with its group): gone is all we can know.
        if (n == 0 && ::kill(pid_, 0) != 0) {
            status_ = 0;
            return ended_ = true;
        }
        return false;
    }
    // Exit 0 without a sign of having held the home: it found another host holding it.
    bool lostTheRace() const {
        return ended_ && !held && WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
    }
    int status() const { return status_; }
    bool held = false;  // seen holding the home's lock, or having written there

  private:
    StartedHost(pid_t between, int report, off_t logSize)
        : between_(between), report_(report), logFrom_(logSize) {}
    pid_t between_, pid_ = -1;
    int report_;
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
    return "the socket path " + detail::quoted(path) + " is too long for a Unix socket (" +
           std::to_string(path.size()) + " bytes, at most " +
           std::to_string(sizeof(sockaddr_un::sun_path) - 1) + "): choose a shorter home folder";
}

// A runtime folder this user cannot reach (a home of another user) is said
// at once, never waited on as if no host had run there.
std::string unreachable(const std::string& runtime) {
    struct stat st {};
    if (::stat(runtime.c_str(), &st) == 0 || errno == ENOENT || errno == ENOTDIR) return {};
    return "cannot read " + detail::quoted(runtime) + ": " + std::strerror(errno);
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

// A runtime folder that cannot be looked at, or a folder or socket the
// caller may not trust: no driver there is to be believed.
Outcome driverProblem(const std::string& runtime, const std::string& socket) {
    if (auto why = unreachable(runtime); !why.empty()) return Outcome::failure(why);
    for (const auto& why : {detail::distrustFolder(runtime), distrustSocket(socket)})
        if (!why.empty()) return Outcome::failure(why, Outcome::Kind::Untrusted);
    return Outcome::success();
}

enum class Request { Taken, HostGone, TimedOut };

// The trigger is taken at the host's next tick.
Request awaitRequestTaken(const std::string& home, Clock::time_point deadline) {
    const std::string trigger = platform::joinPath(runtimeFolder(home), contract::kWindowRequest);
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
    const std::string socket = platform::joinPath(runtime, contract::kDriverSocket);
    const std::string log = platform::joinPath(runtime, contract::kLog);
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
               " before its driver accepted connections: see " + detail::quoted(log) +
               (last.empty() ? "" : ", which ends " + last);
    }

    std::string timedOut(const Status& s, int holder) const {
        if (s.running)
            return "the driver of the host (pid " + std::to_string(s.hostPid) +
                   ") did not accept a connection on " + detail::quoted(socket) +
                   within(o.timeout) + ": see " + detail::quoted(log);
        if (holder > 0)
            return "the host (pid " + std::to_string(holder) + ") holding " +
                   detail::quoted(o.home) + " did not write its status" + within(o.timeout);
        if (holder < 0)
            return detail::notTheHost({holder, false}, runtime) + " still" + within(o.timeout);
        return "no host came up in " + detail::quoted(o.home) + within(o.timeout);
    }

    // The host it started has ended: a failure, or a race lost to a host that
    // may be quitting. A host that ends at once although nobody else was seen
    // holding the home is tried once more, never in a loop.
    std::optional<Outcome> childEnded() {
        if (!child->lostTheRace() || (!otherHolderSeen && std::exchange(retried, true)))
            return Outcome::failure(
                child->lostTheRace() ? "the host ended at once (exit status 0) without taking " +
                                           detail::quoted(o.home) + ": see " + detail::quoted(log)
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
        std::string error;
        child = StartedHost::spawn(hostArguments(host, o), sizeOf(log), error);
        if (!child) return Outcome::failure("cannot run " + detail::quoted(host) + ": " + error);
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

    // Whether the host it started took the home before it ended: it held the
    // lock, or its status or its driver's log line came. A host that loses
    // the race to another writes and runs nothing; a host whose driver ends
    // at once may take the home and let it go between two looks.
    void noteSigns(const Status& s) {
        if (!child || child->held) return;
        child->held = detail::holdsLock(child->pid(), runtime).value_or(false) ||
                      (s.present && s.hostPid == child->pid()) ||
                      (!otherHolderSeen && sizeOf(log) > child->logFrom());
    }

    std::optional<Outcome> step(const sockaddr_un& address) {
        detail::Unread why;
        const Status s = detail::readStatus(o.home, why);
        // Nothing is started on a guess (a folder that cannot be looked at).
        if (why == detail::Unread::CannotLook) return Outcome::failure(s.error);
        detail::Holder holder{s.running ? s.hostPid : 0, s.running};
        if (!s.running) {
            const auto held = detail::lockHolder(runtime);
            if (!held)
                return Outcome::failure("cannot tell whether a host holds " +
                                        detail::quoted(o.home) + ": " + std::strerror(errno));
            holder = *held;
        }
        // No host can take the home while another program holds its lock. One
        // that cannot be seen may be a host just ending (its lock outlives its
        // descriptors for a moment): it is waited for, as a host that has not
        // written yet.
        if (holder.pid > 0 && !holder.host)
            return Outcome::failure(detail::notTheHost(holder, runtime) +
                                    ": no host can start there until it ends");
        if (holder.pid > 0 && (!child || holder.pid != child->pid())) otherHolderSeen = true;
        noteSigns(s);
        if (s.running) {
            if (auto distrusted = distrustSocket(socket); !distrusted.empty())
                return Outcome::failure(distrusted, Outcome::Kind::Untrusted);
            if (accepts(address))
                if (auto done = served(s)) return done;
        }
        if (child && child->ended()) {
            noteSigns(detail::readStatus(o.home, why));
            if (auto failed = childEnded()) return failed;
        }
        if (Clock::now() > deadline) return Outcome::failure(timedOut(s, holder.pid));
        // Only into a free home: a holder that has not written yet is waited for.
        if (!child && !holder.pid && Clock::now() >= nextSpawn) return spawn();
        return std::nullopt;
    }
};

}  // namespace

Outcome startHost(const StartOptions& o) try {
    // The host could not serve there: no host is started for nothing.
    if (auto problem = detail::homeProblem(o.home); !problem.empty())
        return Outcome::failure(problem);
    Start start(o);
    const auto address = socketAddress(start.socket);
    if (!address) return Outcome::failure(tooLong(start.socket));
    const auto began = Clock::now();
    for (;; std::this_thread::sleep_for(pauseAfter(Clock::now() - began)))
        if (auto done = start.step(*address)) return *done;
} catch (const std::exception& e) {
    return Outcome::failure(std::string("cannot start the host: ") + e.what());
}

Outcome detail::driverAccepts(const std::string& home) try {
    const std::string runtime = runtimeFolder(home);
    const std::string path = platform::joinPath(runtime, contract::kDriverSocket);
    if (auto problem = driverProblem(runtime, path); !problem.ok()) return problem;
    const auto listens = listening(path);
    if (!listens) return waitForDriver(home, 0ms);
    if (*listens) return Outcome::success();
    return Outcome::failure("the driver does not accept connections on " + quoted(path));
} catch (const std::exception& e) {
    return Outcome::failure(std::string("cannot look at the driver: ") + e.what());
}

Outcome waitForDriver(const std::string& home, std::chrono::milliseconds timeout) try {
    const auto deadline = Clock::now() + timeout;
    const std::string runtime = runtimeFolder(home);
    const std::string path = platform::joinPath(runtime, contract::kDriverSocket);
    const auto address = socketAddress(path);
    if (!address) return Outcome::failure(tooLong(path));
    for (;; std::this_thread::sleep_for(kPoll)) {
        if (auto problem = driverProblem(runtime, path); !problem.ok()) return problem;
        if (accepts(*address)) return Outcome::success();
        if (Clock::now() > deadline)
            return Outcome::failure("the driver did not accept a connection on " +
                                    detail::quoted(path) + within(timeout));
    }
} catch (const std::exception& e) {
    return Outcome::failure(std::string("cannot wait for the driver: ") + e.what());
}

}  // namespace quorva
