#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/files.h"

namespace platform {

// What a new child process starts with. It inherits only standard input,
// output and error (each -1 keeps the host's own) and `passFd`, and starts
// with every signal at its default and none blocked, whatever the host
// inherited.
struct SpawnRequest {
    std::vector<std::string> argv;  // argv[0] is the program
    std::vector<std::string> env;   // "NAME=value", the complete environment
    int stdinFd = -1, stdoutFd = -1, stderrFd = -1;
    int passFd = -1;          // becomes the child's descriptor 3
    bool searchPath = false;  // a bare program name is looked up on PATH
    // A session (and process group) of its own: what is sent to the parent's
    // group or comes from its terminal (Ctrl-C, a hangup) never reaches it.
    bool ownSession = false;
    // The host's end of a guard's link (see guard_link.h). On Linux the child
    // hands the guard a pidfd of itself before its exec; elsewhere the caller
    // hands the pid over after the spawn.
    int guardLinkFd = -1;
};

// The null-terminated array of C strings exec wants, pointing into `strings`.
inline std::vector<char*> cStrings(const std::vector<std::string>& strings) {
    std::vector<char*> out;
    out.reserve(strings.size() + 1);
    for (const auto& s : strings) out.push_back(const_cast<char*>(s.c_str()));
    out.push_back(nullptr);
    return out;
}

// The new child's pid, or -1 when it could not be started (nothing runs then).
pid_t spawnChild(const SpawnRequest& request);

// A descriptor, for the event loop to watch, that turns readable once `pid`
// (a child of this process, not reaped yet) has ended: a pidfd on Linux, a
// kqueue with the pid's exit filter on macOS. Invalid when none can be made.
FileHandle watchForEnd(pid_t pid);

}  // namespace platform
