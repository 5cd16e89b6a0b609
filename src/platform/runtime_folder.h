#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

#include "platform/deadline.h"
#include "platform/files.h"

namespace platform {

enum class LockOutcome { Acquired, HeldElsewhere, Failed };

// The host's runtime folder, held open once start-up has found it: every
// entry is reached relative to the open folder, never through its path
// again, so a folder moved away or a link put in its place cannot lead the
// host anywhere else.
class RuntimeFolder {
  public:
    // The folder at `path` itself: a symbolic link there is refused.
    static std::optional<RuntimeFolder> open(const std::string& path);

    // An exclusive lock on the folder, held until the process ends however
    // it ends; children do not inherit it.
    LockOutcome lock() const;
    // Whether `path` still names this very folder: a folder, not a link,
    // with the same device and inode. Only a definite answer says no (an
    // I/O error or lack of memory does not).
    bool isNamedBy(const std::string& path) const;
    // For the last-resort end, which may only make system calls.
    int descriptor() const { return handle_.fd(); }

    // True for any entry, a dangling link included.
    bool exists(const std::string& name) const;
    // A folder given exactly `mode` whatever the umask; an existing folder
    // (or a link to one) is used as it is.
    bool createFolder(const std::string& name, mode_t mode) const;
    // An empty regular file with exactly `mode`; fails if anything is there.
    bool createFile(const std::string& name, mode_t mode) const;
    // An existing file opened for appending, positioned at its end; a FIFO
    // without a reader fails rather than hangs.
    std::optional<FileHandle> openForAppending(const std::string& name) const;
    // Replaces `name` with `bytes` in one step through the fixed temporary
    // ".<name>.tmp" (whatever a killed writer left there, a link included,
    // is removed, never followed; a folder makes the write fail). Only one
    // writer per folder may use it, which the lock makes sure of. The file
    // is always readable and writable by its owner; on failure the old file
    // is untouched and no temporary remains.
    bool writeAtomically(const std::string& name, std::string_view bytes) const;
    Removal remove(const std::string& name, const Deadline& deadline = Deadline::never()) const;
    // A folder inside, opened as itself (a link there is refused).
    std::optional<Folder> openFolder(const std::string& name) const;

  private:
    RuntimeFolder(FileHandle handle, dev_t dev, ino_t ino)
        : handle_(std::move(handle)), dev_(dev), ino_(ino) {}
    FileHandle handle_;
    dev_t dev_;
    ino_t ino_;
};

}  // namespace platform
