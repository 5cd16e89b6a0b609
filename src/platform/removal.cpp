#include "platform/removal.h"

#include <dirent.h>
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
// of one subfolder that is not in `stuck`, or "" when none is left; none when
// the deadline passed first.
std::optional<std::string> clearFilesAndFindFolder(int fd, std::set<std::string>& stuck,
                                                   const Deadline& deadline) {
    const int listFd = ::dup(fd);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0) ::close(listFd);
        return std::string();
    }
    ::rewinddir(dir);  // the duplicate shares the offset of an earlier listing
    std::optional<std::string> folder = std::string();
    while (const dirent* e = ::readdir(dir)) {
        if (deadline.passed()) {
            folder.reset();
            break;
        }
        const char* name = e->d_name;
        if (isDot(name) || stuck.count(name)) continue;
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
            folder = name;
            break;
        } else {
            stuck.insert(name);
        }
    }
    ::closedir(dir);
    return folder;
}

struct Level {
    std::string name;  // in the level above
    dev_t dev;
    ino_t ino;
    std::set<std::string> stuck;  // entries that could not be removed
};

bool sameFolder(int fd, const Level& level) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && st.st_dev == level.dev && st.st_ino == level.ino;
}

// Empties the folder `name` in `parentFd` depth first. Rather than one open
// descriptor per level, it climbs back through ".." (checked against the
// folder it came from), so a junk tree thousands of levels deep goes too.
// Another process may fill the tree as fast as it is emptied: the deadline
// bounds the work, and a later call goes on from what is left.
Removal emptyFolderAt(int parentFd, const char* name, const Deadline& deadline) {
    int fd = ::openat(parentFd, name, kFolderFlags);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) ::close(fd);
        return Removal::Failed;
    }
    std::vector<Level> levels{{name, st.st_dev, st.st_ino, {}}};
    for (;;) {
        const auto found = clearFilesAndFindFolder(fd, levels.back().stuck, deadline);
        if (!found) {
            ::close(fd);
            return Removal::Unfinished;
        }
        const std::string& sub = *found;
        if (!sub.empty()) {
            const int child = ::openat(fd, sub.c_str(), kFolderFlags);
            if (child < 0 || ::fstat(child, &st) != 0) {
                if (child >= 0) ::close(child);
                levels.back().stuck.insert(sub);
                continue;
            }
            ::close(fd);
            fd = child;
            levels.push_back({sub, st.st_dev, st.st_ino, {}});
            continue;
        }
        const Level done = std::move(levels.back());
        levels.pop_back();
        if (levels.empty()) {
            ::close(fd);
            return done.stuck.empty() ? Removal::Removed : Removal::Failed;
        }
        const int parent = ::openat(fd, "..", kFolderFlags);
        ::close(fd);
        if (parent < 0 || !sameFolder(parent, levels.back())) {  // moved away meanwhile
            if (parent >= 0) ::close(parent);
            return Removal::Failed;
        }
        fd = parent;
        if (::unlinkat(fd, done.name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
            levels.back().stuck.insert(done.name);
    }
}

}  // namespace

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
