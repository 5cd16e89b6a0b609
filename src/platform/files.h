#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
// one) already stands there; fails when something else does.
bool createDirectory(const std::string& path, mode_t mode);

// True for any entry at `path`, a dangling symbolic link included.
bool exists(const std::string& path);

// Creates an empty regular file with exactly `mode`; fails if anything is there.
bool createFile(const std::string& path, mode_t mode);

// Removes the entry at `path`; a folder goes with all its contents. Symbolic
// links are removed themselves, never followed, so nothing outside is touched.
// However deep a folder goes, the removal holds only a few descriptors.
bool removeItem(const std::string& path);

// A folder opened as itself: a symbolic link at its path is refused, and the
// listing and removals work relative to the open folder, so no link swapped
// in later can lead them anywhere else.
class Folder {
  public:
    static std::optional<Folder> open(const std::string& path);

    // Direct entries, hidden ones included, "." and ".." left out.
    std::optional<std::vector<std::string>> names() const;
    // As removeItem, for the entry `name` of this folder.
    bool remove(const std::string& name) const;

  private:
    explicit Folder(FileHandle handle) : handle_(std::move(handle)) {}
    FileHandle handle_;
};

// Names of the direct entries of a folder, hidden ones included, "." and ".."
// left out. Empty optional when the folder cannot be listed.
std::optional<std::vector<std::string>> listDirectory(const std::string& path);

// Opens an existing file for writing without truncating it and positions the
// handle at its end. Appends: every write lands at the end, whoever else writes.
std::optional<FileHandle> openForAppending(const std::string& path);

// Replaces `path` with `bytes` in one step from ".<name>.tmp" in the same
// folder. The temporary name is fixed, so a writer killed half-way leaves
// nothing the next one does not reuse (a link there is removed, a folder
// makes the write fail); only one writer per folder may use it. The file is
// always readable and writable by its owner. On failure the old file is
// untouched and no temporary remains.
bool writeFileAtomically(const std::string& path, std::string_view bytes);

enum class LockOutcome { Acquired, HeldElsewhere, Failed };

// An exclusive lock on the folder at `path`, held through `holder` until it is
// closed or the process ends, however it ends. Not inherited by children.
LockOutcome lockFolder(const std::string& path, FileHandle& holder);

std::string joinPath(std::string_view folder, std::string_view name);

}  // namespace platform
