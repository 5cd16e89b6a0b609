#include "platform/removal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace platform {
namespace {

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

bool isDot(const char* name) {
    return !std::strcmp(name, ".") || !std::strcmp(name, "..");
}

// Removes every non-folder entry of the open folder `fd` and returns the name
// of one subfolder that is not in `stuck`, or "" when none is left (or the
// folder cannot be listed: then what it holds stays, and so does the
// folder); none when the deadline passed first.
std::optional<std::string> clearFilesAndFindFolder(int fd, std::set<std::string>& stuck,
                                                   const Deadline& deadline) {
    EntryStream entries(fd);
    for (;;) {
        if (deadline.passed()) return std::nullopt;
        const dirent* e = entries.next();
        if (!e) return std::string();
        const char* name = e->d_name;
        if (stuck.count(name)) continue;
        if (e->d_type != DT_DIR) {
            if (::unlinkat(fd, name, 0) == 0 || errno == ENOENT) continue;
            if (errno != EISDIR && errno != EPERM) {  // EPERM: how macOS refuses a folder
                stuck.insert(name);
                continue;
            }
        }
        struct stat st {};
        if (::fstatat(fd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) stuck.insert(name);
        } else if (S_ISDIR(st.st_mode)) {
            return name;
        } else {
            stuck.insert(name);
        }
    }
}

struct Level {
    std::string name;  // in the level above
    dev_t dev;
    ino_t ino;
    std::set<std::string> stuck;  // entries that could not be removed
};

// The folder `name` in `parentFd`, opened as itself, and where it is.
std::optional<FileHandle> openLevel(int parentFd, const char* name, struct stat& st) {
    FileHandle h(::openat(parentFd, name, kFolderFlags));
    if (!h.valid() || ::fstat(h.fd(), &st) != 0) return std::nullopt;
    return h;
}

// Empties the folder `name` in `parentFd` depth first. Rather than one open
// descriptor per level, it climbs back through ".." (checked against the
// folder it came from), so a junk tree thousands of levels deep goes too.
// Another process may fill the tree as fast as it is emptied: the deadline
// bounds the work, and a later call goes on from what is left.
Removal emptyFolderAt(int parentFd, const char* name, const Deadline& deadline) {
    struct stat st {};
    auto fd = openLevel(parentFd, name, st);
    if (!fd) return Removal::Failed;
    std::vector<Level> levels{{name, st.st_dev, st.st_ino, {}}};
    for (;;) {
        const auto found = clearFilesAndFindFolder(fd->fd(), levels.back().stuck, deadline);
        if (!found) return Removal::Unfinished;
        const std::string& sub = *found;
        if (!sub.empty()) {
            auto child = openLevel(fd->fd(), sub.c_str(), st);
            if (!child) {
                levels.back().stuck.insert(sub);
                continue;
            }
            fd = std::move(child);
            levels.push_back({sub, st.st_dev, st.st_ino, {}});
            continue;
        }
        const Level done = std::move(levels.back());
        levels.pop_back();
        if (levels.empty()) return done.stuck.empty() ? Removal::Removed : Removal::Failed;
        fd = openLevel(fd->fd(), "..", st);
        const Level& up = levels.back();
        if (!fd || st.st_dev != up.dev || st.st_ino != up.ino)  // moved away meanwhile
            return Removal::Failed;
        if (::unlinkat(fd->fd(), done.name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
            levels.back().stuck.insert(done.name);
    }
}

}  // namespace

// A duplicate, so that closing the stream leaves the caller's descriptor
// open; rewound, as it shares the offset of any earlier listing.
EntryStream::EntryStream(int folderFd) {
    FileHandle copy(::dup(folderFd));
    if (copy.valid()) dir_ = ::fdopendir(copy.fd());
    if (!dir_) {
        error_ = errno ? errno : EBADF;
        return;
    }
    copy.release();  // the stream's now
    ::rewinddir(dir_);
}

EntryStream::~EntryStream() {
    if (dir_) ::closedir(dir_);
}

const dirent* EntryStream::next() {
    if (!dir_ || failed()) return nullptr;
    for (;;) {
        errno = 0;  // readdir's one way to tell an error from the end
        const dirent* e = ::readdir(dir_);
        if (!e) {
            error_ = errno;
            return nullptr;
        }
        if (!isDot(e->d_name)) return e;
    }
}

Removal removeEntryAt(int dirFd, const char* name, const Deadline& deadline) {
    // Most entries are files: try that first and spare a stat per entry.
    if (::unlinkat(dirFd, name, 0) == 0) return Removal::Removed;
    if (errno != EISDIR && errno != EPERM) return Removal::Failed;
    struct stat st {};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode))
        return Removal::Failed;
    if (emptyFolderAt(dirFd, name, deadline) == Removal::Unfinished) return Removal::Unfinished;
    return ::unlinkat(dirFd, name, AT_REMOVEDIR) == 0 ? Removal::Removed : Removal::Failed;
}

bool removeItem(const std::string& path) {
    return removeEntryAt(AT_FDCWD, path.c_str(), Deadline::never()) == Removal::Removed;
}

}  // namespace platform
