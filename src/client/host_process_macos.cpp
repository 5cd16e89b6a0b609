// macOS: no /proc. Kept small; it cannot be built on the Linux machines.
#include <fcntl.h>
#include <libproc.h>
#include <limits.h>
#include <mach-o/dyld.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/proc_info.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "client/host_process.h"

namespace quorva::detail {

namespace {

// SZOMB in <sys/proc.h>: a process that has ended and not been waited for.
constexpr std::uint32_t kZombie = 5;

// The start of `pid` in microseconds since the epoch, so that a pid used
// again is told apart; -1 for none (or a zombie).
std::int64_t startOf(int pid) {
    struct proc_bsdinfo info {};
    if (pid <= 0 ||
        ::proc_pidinfo(pid, PROC_PIDTBSDINFO, 0, &info, PROC_PIDTBSDINFO_SIZE) !=
            PROC_PIDTBSDINFO_SIZE ||
        info.pbi_status == kZombie)
        return -1;
    return static_cast<std::int64_t>(info.pbi_start_tvsec) * 1'000'000 +
           static_cast<std::int64_t>(info.pbi_start_tvusec);
}

// int proc_pidpath(int pid, void* buffer, uint32_t buffersize)
std::string executableOf(int pid) {
    char path[PROC_PIDPATHINFO_MAXSIZE];
    if (pid <= 0 || ::proc_pidpath(pid, path, sizeof path) <= 0) return {};
    const char* name = std::strrchr(path, '/');
    return name ? name + 1 : path;
}

}  // namespace

// Nothing here lists a process's locks: a live process whose executable is
// the host's. Weaker than the lock test on Linux: a stale pid reused by the
// host of another home passes.
std::optional<bool> holdsLock(int pid, const std::string&) {
    return pid > 0 && ::kill(pid, 0) == 0 && executableOf(pid) == "QuorvaDesktop";
}

std::optional<bool> runsHostProgram(int pid) {
    return executableOf(pid) == "QuorvaDesktop";
}

std::optional<bool> isHost(int pid, const std::string& runtime) {
    return holdsLock(pid, runtime);
}

std::string programName(int pid) {
    return executableOf(pid);
}

// Nothing lists who holds a flock here.
std::optional<Holder> lockHolder(const std::string&) {
    return Holder{};
}

Watched::Watched(int pid) : pid_(pid), started_(startOf(pid)) {}

Watched::Watched(Watched&& other) noexcept
    : pid_(other.pid_), fd_(other.fd_), started_(other.started_) {}

Watched::~Watched() = default;

bool Watched::ended() const {
    return started_ < 0 || startOf(pid_) != started_;
}

bool Watched::signal(int sig) const {
    return !ended() && ::kill(pid_, sig) == 0;
}

// int proc_listpids(uint32_t type, uint32_t typeinfo, void* buffer, int buffersize)
std::vector<Watched> watchChildren(int pid) {
    std::vector<pid_t> pids(1024);
    const int bytes = ::proc_listpids(PROC_PPID_ONLY, static_cast<std::uint32_t>(pid), pids.data(),
                                      static_cast<int>(pids.size() * sizeof(pid_t)));
    std::vector<Watched> out;
    for (int i = 0; i < bytes / static_cast<int>(sizeof(pid_t)); ++i) {
        Watched w(pids[static_cast<std::size_t>(i)]);
        if (!w.ended()) out.push_back(std::move(w));
    }
    return out;
}

bool awaitEnd(const std::vector<const Watched*>& processes,
              std::chrono::steady_clock::time_point deadline) {
    for (;; ::usleep(10000)) {
        bool all = true;
        for (const Watched* w : processes) all = all && w->ended();
        if (all) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
    }
}

// Nothing lists listening sockets cheaply here: a connection tells.
std::optional<bool> listening(const std::string&) {
    return std::nullopt;
}

void closeDescriptorsFrom(int first) {
    rlimit limit{};
    const int last = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536
                         ? static_cast<int>(limit.rlim_cur)
                         : 65536;
    for (int fd = first; fd < last; ++fd) ::close(fd);
}

// int proc_pidinfo(int pid, int flavor, uint64_t arg, void* buffer, int size)
std::optional<std::int64_t> startedAt(int pid) {
    struct proc_bsdinfo info {};
    if (::proc_pidinfo(pid, PROC_PIDTBSDINFO, 0, &info, PROC_PIDTBSDINFO_SIZE) !=
        PROC_PIDTBSDINFO_SIZE)
        return std::nullopt;
    return static_cast<std::int64_t>(info.pbi_start_tvsec);
}

// Another process's environment is not offered here.
std::optional<std::vector<std::string>> environmentOf(int) {
    return std::nullopt;
}

// No pipe2 here: another thread's fork and exec may see the pipe in between.
bool makePipe(int fds[2]) {
    if (::pipe(fds) != 0) return false;
    for (int i = 0; i < 2; ++i) ::fcntl(fds[i], F_SETFD, FD_CLOEXEC);
    return true;
}

std::string programFolder() {
    char path[PATH_MAX], real[PATH_MAX];
    std::uint32_t size = sizeof path;
    if (::_NSGetExecutablePath(path, &size) != 0 || !::realpath(path, real)) return {};
    std::string folder = real;
    return folder.substr(0, folder.find_last_of('/'));
}

std::int64_t modifiedNs(const struct stat& st) {
    return static_cast<std::int64_t>(st.st_mtimespec.tv_sec) * 1'000'000'000 +
           st.st_mtimespec.tv_nsec;
}

// Nothing tells them apart here: everything is passed on.
bool sentByTerminal(const siginfo_t&) {
    return false;
}

std::vector<std::string> systemHostCandidates() {
    return {"/Applications/QuorvaDesktop.app/Contents/MacOS/QuorvaDesktop"};
}

}  // namespace quorva::detail
