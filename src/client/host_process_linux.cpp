#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "client/host_process.h"
#include "platform/files.h"

namespace quorva::detail {
namespace {

std::string proc(int pid, const std::string& entry) {
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

// A small /proc file whole; none when it cannot be read.
std::optional<std::string> readProc(const std::string& path) {
    platform::FileHandle file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.valid()) return std::nullopt;
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(file.fd(), buf, sizeof buf)) > 0)
        out.append(buf, static_cast<std::size_t>(n));
    if (n < 0) return std::nullopt;
    return out;
}

// Out of descriptors or memory: an answer cannot be had now.
bool lackOf(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM;
}

// One line of /proc/locks, or after "lock:\t" in fdinfo:
// "1: FLOCK  ADVISORY  WRITE 4711 fe:00:10961515 0 EOF"; waiters say "1: -> FLOCK".
bool isExclusiveFlock(const char* line, int* holder, unsigned long* inode) {
    char type[16], mode[16];
    int pid = 0;
    unsigned long ino = 0;
    if (std::sscanf(line, "%*d: %15s %*15s %15s %d %*x:%*x:%lu", type, mode, &pid, &ino) != 4)
        return false;
    if (holder) *holder = pid;
    if (inode) *inode = ino;
    return !std::strcmp(type, "FLOCK") && !std::strcmp(mode, "WRITE");
}

}  // namespace

// The host's lock is an exclusive flock on its runtime folder. The folder's
// device is compared as stat reports it on both sides: /proc/locks lists the
// superblock's device (major:minor in hex), which on btrfs subvolumes and
// overlayfs is not the st_dev of the folder, so each descriptor of `pid`
// that carries such a lock (its fdinfo says so) is stat-ed as itself.
// Reading all this locks nothing. A process of another user cannot be
// looked into, and is not the caller's host.
std::optional<bool> holdsLock(int pid, const std::string& runtime) {
    struct stat want {};
    if (pid <= 0 || ::stat(runtime.c_str(), &want) != 0 || !S_ISDIR(want.st_mode)) return false;
    DIR* fds = ::opendir(proc(pid, "fdinfo").c_str());
    if (!fds) return lackOf(errno) ? std::nullopt : std::optional(false);  // else gone, or not ours
    std::optional<bool> found = false;
    while (const dirent* e = *found ? nullptr : ::readdir(fds)) {
        if (e->d_name[0] == '.') continue;
        const auto info = readProc(proc(pid, "fdinfo/") + e->d_name);
        if (!info && lackOf(errno)) {
            found = std::nullopt;
            break;
        }
        bool locked = false;
        for (auto at = info ? info->find("lock:\t") : std::string::npos;
             !locked && at != std::string::npos; at = info->find("lock:\t", at + 1))
            locked = isExclusiveFlock(info->c_str() + at + 6, nullptr, nullptr);
        struct stat st {};
        found = locked && ::stat((proc(pid, "fd/") + e->d_name).c_str(), &st) == 0 &&
                st.st_dev == want.st_dev && st.st_ino == want.st_ino;
    }
    const int saved = errno;
    ::closedir(fds);
    errno = saved;
    return found;
}

// /proc/locks names the candidates by inode; holdsLock settles the device.
std::optional<int> lockHolder(const std::string& runtime) {
    struct stat want {};
    if (::stat(runtime.c_str(), &want) != 0) return 0;
    const auto all = readProc("/proc/locks");
    if (!all) return std::nullopt;
    std::istringstream locks(*all);
    for (std::string line; std::getline(locks, line);) {
        int pid = 0;
        unsigned long inode = 0;
        if (!isExclusiveFlock(line.c_str(), &pid, &inode) || inode != want.st_ino) continue;
        const auto holds = holdsLock(pid, runtime);
        if (!holds) return std::nullopt;
        if (*holds) return pid;
    }
    return 0;
}

// The pidfd is taken before the check, so the signal reaches the process
// that was checked even if its pid were reused in between.
bool signalHost(int pid, const std::string& runtime, int sig) {
    platform::FileHandle process(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    if (!process.valid() && errno != ENOSYS) return false;
    if (!isHostOf(pid, runtime)) return false;
    if (!process.valid()) return ::kill(pid, sig) == 0;  // a kernel before 5.3
    return ::syscall(SYS_pidfd_send_signal, process.fd(), sig, nullptr, 0) == 0;
}

// Field 22 of /proc/PID/stat counts clock ticks from boot; /proc/stat's
// btime is the boot in seconds since the epoch.
std::optional<std::int64_t> startedAt(int pid) {
    const std::string stat = readProc(proc(pid, "stat")).value_or("");
    const auto comm = stat.rfind(')');  // the name may hold spaces and parentheses
    std::istringstream fields(comm == std::string::npos ? "" : stat.substr(comm + 2));
    std::string field;
    for (int k = 3; k < 22; ++k) fields >> field;
    unsigned long long ticks = 0;
    if (!(fields >> ticks)) return std::nullopt;
    const std::string all = readProc("/proc/stat").value_or("");
    const auto at = all.find("\nbtime ");
    if (at == std::string::npos) return std::nullopt;
    const long long boot = std::atoll(all.c_str() + at + 7);
    return boot + static_cast<std::int64_t>(
                      ticks / static_cast<unsigned long long>(::sysconf(_SC_CLK_TCK)));
}

std::optional<std::vector<std::string>> environmentOf(int pid) {
    const auto all = readProc(proc(pid, "environ"));
    if (!all) return std::nullopt;
    std::vector<std::string> out;
    for (std::size_t at = 0; at < all->size();) {
        const std::size_t end = std::min(all->find('\0', at), all->size());
        out.push_back(all->substr(at, end - at));
        at = end + 1;
    }
    return out;
}

void inheritOnlyStandardStreams(posix_spawn_file_actions_t* files, short*) {
    posix_spawn_file_actions_addclosefrom_np(files, 3);
}

std::string programFolder() {
    char real[PATH_MAX];
    if (!::realpath("/proc/self/exe", real)) return {};
    std::string path = real;
    return path.substr(0, path.find_last_of('/'));
}

std::int64_t modifiedNs(const struct stat& st) {
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

bool sentByTerminal(const siginfo_t& info) {
    return info.si_code == SI_KERNEL;
}

std::vector<std::string> systemHostCandidates() {
    return {};
}

}  // namespace quorva::detail
