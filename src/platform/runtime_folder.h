#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/deadline.h"
#include "platform/files.h"

namespace platform {

enum class LockOutcome { Acquired, HeldElsewhere, Failed };

// The host's runtime folder, held open once start-up has found it: a Folder
// (every entry reached relative to it, never through its path again, so a
// folder moved away or a link put in its place cannot lead the host anywhere
// else) with its lock, the identity it was found with, its log and its one
// writer's atomic replacement.
class RuntimeFolder : public Folder {
  public:
    // The folder at `path` itself, or the folder a symbolic link there leads
    // to when the link is this user's own (people keep dotfolders on links).
    // Either way the folder must be this user's and writable by nobody else
    // (platform/ownership.h): anyone who could write in it could make the
    // host write through a link, or forge its status (Trust, EPERM).
    static Result<RuntimeFolder> open(const std::string& path);

    // An exclusive lock on the folder, held until the process ends however
    // it ends; children do not inherit it.
    LockOutcome lock() const;
    // Whether `path` still leads to this very folder the way it did at
    // open(): the folder itself (not a link), or the very link that was
    // followed then. Only a definite answer says no (an I/O error or lack of
    // memory does not).
    bool isNamedBy(const std::string& path) const;

    // A log to append to, positioned at its end: a regular file of this
    // user's with no other name, so that nothing written to it lands outside
    // the folder (never a link, a hard link, a FIFO or a socket: Trust,
    // EPERM). With `create`, a new one with exactly `mode`, made only if
    // nothing is there; without, an existing one (OpenFile, ENOENT when
    // nothing is there).
    Result<FileHandle> openLog(const std::string& name, bool create, mode_t mode) const;
    // Replaces `name` with `bytes` in one step through the fixed temporary
    // ".<name>.tmp". Whatever stands under either name (a file a killed
    // writer left, a folder, a link, a FIFO) goes, links never followed,
    // folders with their contents as far as `deadline` allows. Only one
    // writer per folder may use it, which the lock makes sure of. The file
    // is always readable and writable by its owner; on failure the old file
    // is untouched.
    Done writeAtomically(const std::string& name, std::string_view bytes,
                         const Deadline& deadline = Deadline::never()) const;

  private:
    Done writeTemporary(const std::string& temp, std::string_view bytes) const;
    Done putInPlace(const std::string& temp, const std::string& name,
                    const Deadline& deadline) const;

    struct Identity {
        dev_t dev;
        ino_t ino;
    };
    RuntimeFolder(FileHandle handle, Identity folder, std::optional<Identity> link)
        : Folder(std::move(handle)), folder_(folder), link_(link) {}
    Identity folder_;
    std::optional<Identity> link_;  // the link that led here, if one did
};

}  // namespace platform
