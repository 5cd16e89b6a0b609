#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "client/host_process.h"
#include "platform/files.h"

namespace quorva::detail {
namespace {

constexpr char kHostProgram[] = "quorva-desktop";

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
struct LockLine {
    int pid = 0;  // who took it; 0 once that process has ended
    unsigned major = 0, minor = 0;
    unsigned long inode = 0;
};

bool isExclusiveFlock(const char* line, LockLine* out) {
    char type[16], mode[16];
    LockLine l;
    if (std::sscanf(line, "%*d: %15s %*15s %15s %d %x:%x:%lu", type, mode, &l.pid, &l.major,
                    &l.minor, &l.inode) != 6)
        return false;
    if (out) *out = l;
    return !std::strcmp(type, "FLOCK") && !std::strcmp(mode, "WRITE");
}

// The fields of /proc/PID/stat after the command name, which may hold spaces
// and parentheses: "S 1 ..." (state, then the parent's pid).
std::optional<std::string> statFields(int pid) {
    const auto stat = readProc(proc(pid, "stat"));
    const auto comm = stat ? stat->rfind(')') : std::string::npos;
    if (comm == std::string::npos || comm + 2 > stat->size()) return std::nullopt;
    return stat->substr(comm + 2);
}

int parentOf(int pid) {
    const auto fields = statFields(pid);
    int parent = 0;
    return fields && std::sscanf(fields->c_str(), "%*c %d", &parent) == 1 ? parent : 0;
}

// The whitespace-separated numbers in `text`. (No string streams here: their
// locale set-up alone costs a short-lived tool more than all its reading.)
std::vector<long long> numbers(const std::string& text) {
    std::vector<long long> out;
    for (const char* at = text.c_str(); *at;) {
        char* end = nullptr;
        const long long n = std::strtoll(at, &end, 10);
        if (end == at) {
            ++at;
            continue;
        }
        out.push_back(n);
        at = end;
    }
    return out;
}

// Field 22, in clock ticks from boot; -1 for no such process, as for a zombie.
long long startTicks(int pid) {
    const auto fields = statFields(pid);
    if (!fields || fields->starts_with("Z")) return -1;
    // After the state (field 3), every field is a number: 22 is the 19th.
    const auto values = numbers(fields->substr(1));
    return values.size() >= 19 ? values[18] : -1;
}

// The executable's path; a file replaced since (a package upgrade) is still
// named as it was. None, errno set, when it cannot be read.
std::optional<std::string> executableOf(int pid) {
    char path[PATH_MAX];
    const ssize_t n = ::readlink(proc(pid, "exe").c_str(), path, sizeof path - 1);
    if (n < 0) return std::nullopt;
    std::string exe(path, static_cast<std::size_t>(n));
    if (exe.ends_with(" (deleted)")) exe.resize(exe.size() - 10);
    return exe;
}

std::vector<int> numbersIn(const std::string& folder) {
    std::vector<int> out;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return out;
    while (const dirent* e = ::readdir(dir))
        if (e->d_name[0] >= '1' && e->d_name[0] <= '9') out.push_back(std::atoi(e->d_name));
    ::closedir(dir);
    return out;
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
            locked = isExclusiveFlock(info->c_str() + at + 6, nullptr);
        struct stat st {};
        found = locked && ::stat((proc(pid, "fd/") + e->d_name).c_str(), &st) == 0 &&
                st.st_dev == want.st_dev && st.st_ino == want.st_ino;
    }
    const int saved = errno;
    ::closedir(fds);
    errno = saved;
    return found;
}

std::optional<bool> runsHostProgram(int pid) {
    const auto exe = executableOf(pid);
    if (!exe) return lackOf(errno) ? std::nullopt : std::optional(false);  // gone, or not ours
    return exe->substr(exe->find_last_of('/') + 1) == kHostProgram;
}

std::optional<bool> isHost(int pid, const std::string& runtime) {
    const auto holds = holdsLock(pid, runtime);
    if (!holds || !*holds) return holds;
    return runsHostProgram(pid);
}

std::string programName(int pid) {
    if (const auto exe = executableOf(pid)) return exe->substr(exe->find_last_of('/') + 1);
    std::string comm = readProc(proc(pid, "comm")).value_or("");
    while (!comm.empty() && comm.back() == '\n') comm.pop_back();
    return comm;
}

// /proc/locks names the candidates by inode; holdsLock settles the device.
// The process listed is the one that took the lock: once it has ended (or
// passed its descriptor on and closed its own) another holds it, and only a
// look at every process finds that one.
std::optional<Holder> lockHolder(const std::string& runtime) {
    struct stat want {};
    if (::stat(runtime.c_str(), &want) != 0)
        return errno == ENOENT || errno == ENOTDIR ? std::optional(Holder{}) : std::nullopt;
    const auto all = readProc("/proc/locks");
    if (!all) return std::nullopt;
    // A process that is ending has no executable any more, and still holds
    // its lock for a moment: not a stranger, but one nobody can name.
    const auto holder = [&](int pid) -> std::optional<Holder> {
        if (!executableOf(pid)) {
            if (lackOf(errno)) return std::nullopt;
            if (errno == ENOENT) return Holder{-1, false};
        }
        const auto host = runsHostProgram(pid);
        if (!host) return std::nullopt;
        return Holder{pid, *host};
    };
    bool listedHere = false;
    for (std::size_t at = 0, end; at < all->size(); at = end + 1) {
        end = std::min(all->find('\n', at), all->size());
        LockLine lock;
        if (!isExclusiveFlock(all->c_str() + at, &lock) || lock.inode != want.st_ino) continue;
        const auto holds = holdsLock(lock.pid, runtime);
        if (!holds) return std::nullopt;
        if (*holds) return holder(lock.pid);
        listedHere = listedHere ||
                     (lock.major == ::major(want.st_dev) && lock.minor == ::minor(want.st_dev));
    }
    if (!listedHere) return Holder{};
    for (const int pid : numbersIn("/proc")) {
        const auto holds = holdsLock(pid, runtime);
        if (!holds) return std::nullopt;
        if (*holds) return holder(pid);
    }
    return Holder{-1, false};
}

Watched::Watched(int pid) : pid_(pid) {
    if (pid <= 0) {
        started_ = -1;
        return;
    }
    fd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (fd_ < 0) started_ = errno == ESRCH ? -1 : startTicks(pid);  // a kernel before 5.3
}

Watched::Watched(Watched&& other) noexcept
    : pid_(other.pid_), fd_(std::exchange(other.fd_, -1)), started_(other.started_) {}

Watched::~Watched() {
    if (fd_ >= 0) ::close(fd_);
}

// A pidfd turns readable when its process has ended.
bool Watched::ended() const {
    if (fd_ < 0) return started_ < 0 || startTicks(pid_) != started_;
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

bool Watched::signal(int sig) const {
    if (fd_ >= 0) return ::syscall(SYS_pidfd_send_signal, fd_, sig, nullptr, 0) == 0;
    return !ended() && ::kill(pid_, sig) == 0;
}

// Each thread lists the children it started; without that file (a kernel
// built without it) every process's parent is looked at.
std::vector<Watched> watchChildren(int pid) {
    std::vector<int> children;
    bool listed = false;
    for (const int task : numbersIn(proc(pid, "task"))) {
        const auto list = readProc(proc(pid, "task/" + std::to_string(task) + "/children"));
        listed = listed || list;
        for (const long long child : numbers(list.value_or("")))
            children.push_back(static_cast<int>(child));
    }
    if (!listed)
        for (const int other : numbersIn("/proc"))
            if (parentOf(other) == pid) children.push_back(other);
    std::vector<Watched> out;
    for (const int child : children) {
        Watched w(child);
        // Pinned first, then checked: still the child it was listed as.
        if (!w.ended() && parentOf(child) == pid) out.push_back(std::move(w));
    }
    return out;
}

bool awaitEnd(const std::vector<const Watched*>& processes,
              std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        bool all = true;
        for (const Watched* w : processes) all = all && w->ended();
        if (all) return true;
        const auto left = deadline - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero()) return false;
        // Woken by the first end; a process without a pidfd is looked at again soon.
        std::vector<pollfd> fds;
        for (const Watched* w : processes) fds.push_back({w->fd_, POLLIN, 0});
        const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        ::poll(fds.data(), fds.size(), static_cast<int>(std::min<long long>(ms, 10)));
    }
}

// The kernel's list of listening Unix sockets (sock_diag), each with the
// inode of the file it is bound to and its backlog: no connection made.
std::optional<bool> listening(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? std::optional(false) : std::nullopt;
    if (!S_ISSOCK(st.st_mode)) return false;
    const platform::FileHandle diag(
        ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    struct {
        nlmsghdr header;
        unix_diag_req request;
    } ask{};
    ask.header.nlmsg_len = sizeof ask;
    ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    ask.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    ask.request.sdiag_family = AF_UNIX;
    ask.request.udiag_states = 1u << 10;  // TCP_LISTEN
    ask.request.udiag_show = UDIAG_SHOW_VFS | UDIAG_SHOW_RQLEN;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (!diag.valid() ||
        ::sendto(diag.fd(), &ask, sizeof ask, 0, reinterpret_cast<const sockaddr*>(&kernel),
                 sizeof kernel) != static_cast<ssize_t>(sizeof ask))
        return std::nullopt;
    std::optional<bool> found = false;
    alignas(nlmsghdr) char buffer[16384];
    for (;;) {
        const ssize_t got = ::recv(diag.fd(), buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return std::nullopt;
        int left = static_cast<int>(got);
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_type == NLMSG_DONE) return found;
            if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY) return std::nullopt;
            const auto* socket = static_cast<const unix_diag_msg*>(NLMSG_DATA(h));
            int size = static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof *socket));
            const unix_diag_vfs* file = nullptr;
            const unix_diag_rqlen* queue = nullptr;
            for (auto* a = reinterpret_cast<const rtattr*>(socket + 1); RTA_OK(a, size);
                 a = RTA_NEXT(a, size)) {
                if (a->rta_type == UNIX_DIAG_VFS)
                    file = static_cast<const unix_diag_vfs*>(RTA_DATA(a));
                if (a->rta_type == UNIX_DIAG_RQLEN)
                    queue = static_cast<const unix_diag_rqlen*>(RTA_DATA(a));
            }
            if (!file || file->udiag_vfs_ino != st.st_ino) continue;
            // The kernel's device number (20 bits of minor), as stat splits it;
            // where they differ (btrfs, overlayfs) a connection must tell.
            if (file->udiag_vfs_dev >> 20 != ::major(st.st_dev) ||
                (file->udiag_vfs_dev & 0xfffff) != ::minor(st.st_dev)) {
                if (found != true) found = std::nullopt;
                continue;
            }
            // A connection is refused once more are waiting than the backlog holds.
            if (!queue || queue->udiag_rqueue <= queue->udiag_wqueue) found = true;
        }
    }
}

void closeDescriptorsFrom(int first) {
    if (::syscall(SYS_close_range, first, ~0U, 0) == 0) return;
    rlimit limit{};
    const int last = ::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < 65536
                         ? static_cast<int>(limit.rlim_cur)
                         : 65536;
    for (int fd = first; fd < last; ++fd) ::close(fd);
}

// Field 22 of /proc/PID/stat counts clock ticks from boot; the boot, in
// seconds since the epoch, is the wall clock less the time since boot (as
// /proc/stat's btime, which costs the kernel a look at every interrupt).
std::optional<std::int64_t> startedAt(int pid) {
    const long long ticks = startTicks(pid);
    timespec now{}, sinceBoot{};
    if (ticks < 0 || ::clock_gettime(CLOCK_REALTIME, &now) != 0 ||
        ::clock_gettime(CLOCK_BOOTTIME, &sinceBoot) != 0)
        return std::nullopt;
    const std::int64_t boot = now.tv_sec - sinceBoot.tv_sec;
    return boot + static_cast<std::int64_t>(ticks / ::sysconf(_SC_CLK_TCK));
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

bool makePipe(int fds[2]) {
    return ::pipe2(fds, O_CLOEXEC) == 0;
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
