#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What differs between the systems on the client side: one small file each.
// Nothing here takes or tests the host's lock by locking: a starting host
// must never lose it to a client.
namespace quorva::detail {

// Whether `pid` holds the host's exclusive lock on the folder `runtime`
// (the same device and inode), so is the live host of that home; none when
// that cannot be told now (out of descriptors or memory: errno says), which
// is never taken for an answer.
std::optional<bool> holdsLock(int pid, const std::string& runtime);

inline bool isHostOf(int pid, const std::string& runtime) {
    return holdsLock(pid, runtime).value_or(false);
}

// The process holding that lock, 0 when none does or this system cannot
// tell without a pid to ask about; none when it cannot be told now.
std::optional<int> lockHolder(const std::string& runtime);

// Sends `sig` to `pid` if, when it is sent, that process is the host of
// `runtime`; false when it is not (or is gone).
bool signalHost(int pid, const std::string& runtime, int sig);

// When the process started, in seconds since the epoch; none if unknown.
std::optional<std::int64_t> startedAt(int pid);

// The environment `pid` was started with ("NAME=value" each), if it can be
// read: a process of the same user.
std::optional<std::vector<std::string>> environmentOf(int pid);

// Makes a spawned child inherit no descriptor beyond its standard streams.
void inheritOnlyStandardStreams(posix_spawn_file_actions_t* files, short* flags);

// The real folder of the running program's executable, or empty.
std::string programFolder();

// A file's modification time in nanoseconds.
std::int64_t modifiedNs(const struct stat& st);

// The terminal signals its whole foreground group: a signal it sent has
// reached a child in that group already.
bool sentByTerminal(const siginfo_t& info);

// Where this system puts the host beyond the portable candidates.
std::vector<std::string> systemHostCandidates();

}  // namespace quorva::detail
