#pragma once

#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What differs between the systems on the client side: one small file each.
// Nothing here takes or tests the host's lock by locking: a starting host
// must never lose it to a client.
namespace quorva::detail {

// Whether `pid` holds the host's exclusive lock on the folder `runtime`
// (the same device and inode); none when that cannot be told now (out of
// descriptors or memory: errno says), which is never taken for an answer.
// Any process can hold a lock (`flock` run on the folder, a backup tool): on
// its own this says nothing about who holds it.
std::optional<bool> holdsLock(int pid, const std::string& runtime);

// Whether `pid` runs the host's own program (its executable is named as the
// host's); none when that cannot be told now.
std::optional<bool> runsHostProgram(int pid);

// The live host of `runtime`: it holds the lock and runs the host's program.
std::optional<bool> isHost(int pid, const std::string& runtime);

inline bool isHostOf(int pid, const std::string& runtime) {
    return isHost(pid, runtime).value_or(false);
}

// The program `pid` runs, by name, for messages ("flock"); empty if unknown.
std::string programName(int pid);

// Who holds the lock on `runtime`.
struct Holder {
    int pid = 0;        // 0: nobody; -1: a process this user cannot see (another user's)
    bool host = false;  // runs the host's program
};

// None when it cannot be told now (errno says). This system may not list
// holders at all: then nobody is named.
std::optional<Holder> lockHolder(const std::string& runtime);

// A process watched until it ends, pinned (on Linux by a pidfd) so that a
// pid used again is never taken for it, whoever its parent is by then.
class Watched {
  public:
    explicit Watched(int pid);
    Watched(Watched&& other) noexcept;
    Watched& operator=(Watched&&) = delete;
    Watched(const Watched&) = delete;
    ~Watched();
    int pid() const { return pid_; }
    bool ended() const;
    // Sends `sig` to the watched process only; false if it is gone.
    bool signal(int sig) const;

  private:
    friend bool awaitEnd(const std::vector<const Watched*>&, std::chrono::steady_clock::time_point);
    int pid_;
    int fd_ = -1;
    std::int64_t started_ = 0;
};

// The processes `pid` has started that still run, each watched (on the
// host: its driver and the driver's guard).
std::vector<Watched> watchChildren(int pid);

// Waits until every one has ended, or `deadline` passes: true when they have.
bool awaitEnd(const std::vector<const Watched*>& processes,
              std::chrono::steady_clock::time_point deadline);

// Whether a socket listens at `path` with room for one more connection,
// asked of the kernel without connecting (a connection wakes the driver);
// none when this system cannot tell that way.
std::optional<bool> listening(const std::string& path);

// Closes every descriptor from `first` on. Safe between fork and exec.
void closeDescriptorsFrom(int first);

// A pipe whose ends are closed on exec from the start.
bool makePipe(int fds[2]);

// When the process started, in seconds since the epoch; none if unknown.
std::optional<std::int64_t> startedAt(int pid);

// The environment `pid` was started with ("NAME=value" each), if it can be
// read: a process of the same user.
std::optional<std::vector<std::string>> environmentOf(int pid);

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
