#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/deadline.h"
#include "platform/error.h"

namespace platform {

// An open file descriptor, closed when the owner goes.
class FileHandle {
  public:
    FileHandle() = default;
    explicit FileHandle(int fd) : fd_(fd) {}
    FileHandle(FileHandle&& o) noexcept : fd_(o.release()) {}
    FileHandle& operator=(FileHandle&& o) noexcept;
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle();

    int fd() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();

  private:
    int fd_ = -1;
};

// Creates `path` and any missing parent folders, giving `mode` exactly to each
// folder it creates, whatever the umask. Succeeds when a folder (or a link to
// one) already stands there; fails when something else does, with the path
// it stands at: MakeFolder with ENOTDIR for what is not a folder, FollowLink
// for a link to nothing, MakeFolder with the system's code for a folder that
// could not be made.
Done createDirectory(const std::string& path, mode_t mode);

// What createDirectory(path) would meet, found without making anything: the
// same cause, or success where it would succeed. For telling why another
// process could not make the folder.
Done canCreateDirectory(const std::string& path);

// True for any entry at `path`, a dangling symbolic link included.
bool exists(const std::string& path);

// Creates an empty regular file with exactly `mode`; fails if anything is
// there (CreateFile, EEXIST).
Done createFile(const std::string& path, mode_t mode);

// Removes the entry at `path`; a folder goes with all its contents. Symbolic
// links are removed themselves, never followed, so nothing outside is touched.
// However deep a folder goes, the removal holds only a few descriptors.
bool removeItem(const std::string& path);

enum class Removal { Removed, Failed, Unfinished };

// A folder opened as itself: a symbolic link at its path is refused, and
// every entry is reached relative to the open folder (the *at calls), so no
// link swapped in later can lead anywhere else. Entries are never opened
// through a link.
class Folder {
  public:
    static Result<Folder> open(const std::string& path);

    enum class Listing { Complete, Stopped, Failed };
    // Calls `visit` with each direct entry's name (hidden ones included, "."
    // and ".." left out) in the order of the listing, for as long as it
    // returns true. Entries added or removed meanwhile may or may not be
    // seen. A listing that breaks off with an error is Failed.
    Listing forEachName(const std::function<bool(const std::string&)>& visit) const;
    // As removeItem, for the entry `name` of this folder; a folder's contents
    // are removed until `deadline` passes, the rest left for a later call.
    Removal remove(const std::string& name, const Deadline& deadline = Deadline::never()) const;
    // True for any entry, a dangling link included.
    bool exists(const std::string& name) const;
    // Nothing at `name`, or a folder that openFolder() would accept.
    bool mayHoldFolder(const std::string& name) const;
    // A folder given exactly `mode` whatever the umask; an existing folder is
    // used as it is (a link there is refused).
    Done createFolder(const std::string& name, mode_t mode) const;
    // An empty regular file with exactly `mode`; fails if anything is there.
    Done createFile(const std::string& name, mode_t mode) const;
    // A folder inside, opened as itself, that is this user's and writable by
    // nobody else (platform/ownership.h); a link there is refused.
    Result<Folder> openFolder(const std::string& name) const;
    // For the last-resort end, which may only make system calls.
    int descriptor() const { return handle_.fd(); }

  protected:
    explicit Folder(FileHandle handle) : handle_(std::move(handle)) {}
    FileHandle handle_;
};

// Names of the direct entries of a folder, hidden ones included, "." and ".."
// left out.
Result<std::vector<std::string>> listDirectory(const std::string& path);

// Whether `path` fits a Unix socket's address, its terminating NUL included.
bool fitsSocketAddress(std::string_view path);

std::string joinPath(std::string_view folder, std::string_view name);

// `path` without links, "." or ".." (realpath).
Result<std::string> realPath(const std::string& path);

}  // namespace platform
