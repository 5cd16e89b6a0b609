#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "client/host_process.h"

namespace quorva::detail {

// The host holds an exclusive flock on its runtime folder for its whole life,
// and /proc/locks names the pid that took each lock and the locked inode.
// Reading it locks nothing. Only the inode is compared: on btrfs subvolumes
// and overlayfs the device stat reports is not the one listed, and the pid
// already pins the process. A dead host, a pid reused by another program and
// the host of another home all fail the test.
bool isHostOf(int pid, const std::string& runtime) {
    struct stat st {};
    if (pid <= 0 || ::stat(runtime.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    FILE* locks = std::fopen("/proc/locks", "re");
    if (!locks) return false;
    bool found = false;
    char line[256];
    while (!found && std::fgets(line, sizeof line, locks)) {
        // "1: FLOCK  ADVISORY  WRITE 4711 fe:00:10961515 0 EOF"; waiters say "1: -> FLOCK".
        char type[16], mode[16];
        int holder = 0;
        unsigned long inode = 0;
        if (std::sscanf(line, "%*d: %15s %*15s %15s %d %*x:%*x:%lu", type, mode, &holder, &inode) ==
            4)
            found = !std::strcmp(type, "FLOCK") && !std::strcmp(mode, "WRITE") && holder == pid &&
                    inode == st.st_ino;
    }
    std::fclose(locks);
    return found;
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
