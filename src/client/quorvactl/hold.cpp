#include "quorvactl/hold.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "client/causes.h"
#include "client/host_process.h"
#include "quorva/client.h"
#include "quorvactl/output.h"

extern char** environ;

namespace quorvactl {
namespace {

constexpr int kRelayed[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGUSR1, SIGUSR2, SIGWINCH};
constexpr unsigned char kFromTerminal = 0x80;

int wakeUp[2] = {-1, -1};

void onSignal(int sig, siginfo_t* info, void*) {
    const int saved = errno;
    const unsigned char note = static_cast<unsigned char>(
        sig | (info && quorva::detail::sentByTerminal(*info) ? kFromTerminal : 0));
    [[maybe_unused]] const ssize_t n = ::write(wakeUp[1], &note, 1);
    errno = saved;
}

// Signals already ignored stay so, for COMMAND too (as under nohup).
bool catchSignals() {
    if (::pipe(wakeUp) != 0) return false;
    for (const int fd : wakeUp) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    struct sigaction sa {};
    sa.sa_sigaction = onSignal;
    sa.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&sa.sa_mask);
    for (const int sig : kRelayed) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler != SIG_IGN)
            ::sigaction(sig, &sa, nullptr);
    }
    return ::sigaction(SIGCHLD, &sa, nullptr) == 0;
}

// Whether `name` names an existing file as posix_spawnp looks for it: when
// running it still fails with ENOENT, its interpreter or loader is missing,
// and shells say 126 (found, cannot run) rather than 127 (not found).
bool commandExists(const std::string& name) {
    struct stat st {};
    if (name.find('/') != std::string::npos) return ::stat(name.c_str(), &st) == 0;
    const char* env = std::getenv("PATH");
    std::string path = env ? env : "";
    if (!env) {
        path.resize(::confstr(_CS_PATH, nullptr, 0));
        ::confstr(_CS_PATH, path.data(), path.size());
        path.resize(std::strlen(path.c_str()));
    }
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find(':', start), path.size());
        const std::string folder = end == start ? "." : path.substr(start, end - start);
        if (::stat((folder + "/" + name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) return true;
        start = end + 1;
    }
    return false;
}

int fail(int status, const std::string& cause) {
    complain("quorvactl hold", cause);
    return status;
}

// Ends this process as COMMAND ended, so that our caller sees the same.
int mirror(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    const int sig = WTERMSIG(status);
    const rlimit noCore{0, 0};
    ::setrlimit(RLIMIT_CORE, &noCore);
    ::signal(sig, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, sig);
    ::sigprocmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(sig);
    return 128 + sig;
}

// Passes on what was sent to us alone; a terminal's signals reached COMMAND already.
void relaySignals(pid_t child) {
    unsigned char note;
    while (::read(wakeUp[0], &note, 1) == 1) {
        const int sig = note & ~kFromTerminal;
        if (sig != SIGCHLD && !(note & kFromTerminal)) ::kill(child, sig);
    }
}

}  // namespace

int hold(const CommandLine& line, const std::string& home) {
    // What can be known to fail is found out before anything is made: a
    // registration makes the home's folders.
    if (const auto problem = quorva::detail::homeProblem(home); !problem.empty())
        return fail(kHoldFailed, problem);
    const auto host = quorva::findHost();
    if (!host)
        return fail(kHoldFailed,
                    "no host binary: quorva-desktop is neither installed beside this program nor "
                    "on PATH");
    // Registered before the host is looked for: a host starting now sees a
    // client at its first look. COMMAND's own entry replaces it.
    quorva::Registration bridge(home);
    if (!bridge.ok()) return fail(kHoldFailed, bridge.error());
    quorva::StartOptions start;
    start.host = *host;
    start.home = home;
    start.english = line.english;
    start.permissions = line.permissions;
    start.timeout = timeoutOf(line);
    if (auto started = quorva::startHost(start); !started)
        return fail(kHoldFailed, started.cause());
    if (!catchSignals()) return fail(kHoldFailed, std::string("signals: ") + std::strerror(errno));

    std::vector<char*> argv;
    for (const auto& a : line.program) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t child = -1;
    if (const int e = ::posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ)) {
        const bool found = e != ENOENT || commandExists(line.program[0]);
        return fail(found ? kCannotRun : kNotFound,
                    "cannot run " + quorva::detail::quoted(line.program[0]) + ": " +
                        std::strerror(e) +
                        (found && e == ENOENT ? " (its interpreter or loader is missing)" : ""));
    }
    quorva::Registration entry(home, child);
    if (entry.ok())
        bridge.release();
    else
        complain("quorvactl hold", entry.error() + " (holding as quorvactl)");
    const quorva::Registration& held = entry.ok() ? entry : bridge;

    // A host found running may have been quitting on idle just then; until
    // a host has seen our entry, start one again if it is gone, once: a
    // host that keeps ending is not started in a loop.
    bool seen = false, restarted = false;
    int status = 0;
    for (;;) {
        pollfd wait{wakeUp[0], POLLIN, 0};
        ::poll(&wait, 1, seen ? -1 : 100);
        relaySignals(child);
        if (::waitpid(child, &status, WNOHANG) == child) break;
        if (seen || (seen = held.seenByHost())) continue;
        if (!restarted && !quorva::readStatus(home).running) {
            restarted = true;
            if (auto again = quorva::startHost(start); !again) {
                complain("quorvactl hold", again.cause());
                seen = true;  // nothing more to do for it
            }
        }
    }
    entry.release();
    bridge.release();
    return mirror(status);
}

}  // namespace quorvactl
