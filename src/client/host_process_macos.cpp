// macOS: no /proc. Kept small; it cannot be built on the Linux machines.
#include <libproc.h>
#include <limits.h>
#include <mach-o/dyld.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/proc_info.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "client/host_process.h"

namespace quorva::detail {

// A live process whose executable is the host's. Weaker than the lock test
// on Linux: a stale pid reused by the host of another home passes.
// int proc_pidpath(int pid, void* buffer, uint32_t buffersize)
std::optional<bool> holdsLock(int pid, const std::string&) {
    char path[PROC_PIDPATHINFO_MAXSIZE];
    if (pid <= 0 || ::kill(pid, 0) != 0 || ::proc_pidpath(pid, path, sizeof path) <= 0)
        return false;
    const char* name = std::strrchr(path, '/');
    return name && std::strcmp(name + 1, "QuorvaDesktop") == 0;
}

// Nothing lists who holds a flock here.
std::optional<int> lockHolder(const std::string&) {
    return 0;
}

bool signalHost(int pid, const std::string& runtime, int sig) {
    return isHostOf(pid, runtime) && ::kill(pid, sig) == 0;
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

void inheritOnlyStandardStreams(posix_spawn_file_actions_t*, short* flags) {
    *flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
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
