#include "platform/removal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
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
// of one subfolder that is not in `stuck`, or "" when none is left.
std::string clearFilesAndFindFolder(int fd, std::set<std::string>& stuck) {
    const int listFd = ::dup(fd);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0) ::close(listFd);
        return {};
    }
    ::rewinddir(dir);  // the duplicate shares the offset of an earlier listing
    std::string folder;
    while (const dirent* e = ::readdir(dir)) {
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
bool emptyFolderAt(int parentFd, const char* name) {
    int fd = ::openat(parentFd, name, kFolderFlags);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) ::close(fd);
        return false;
    }
    std::vector<Level> levels{{name, st.st_dev, st.st_ino, {}}};
    for (;;) {
        const std::string sub = clearFilesAndFindFolder(fd, levels.back().stuck);
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
            return done.stuck.empty();
        }
        const int parent = ::openat(fd, "..", kFolderFlags);
        ::close(fd);
        if (parent < 0 || !sameFolder(parent, levels.back())) {  // moved away meanwhile
            if (parent >= 0) ::close(parent);
            return false;
        }
        fd = parent;
        if (::unlinkat(fd, done.name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT)
            levels.back().stuck.insert(done.name);
    }
}

}  // namespace

bool removeEntryAt(int dirFd, const char* name) {
    // Most entries are files: try that first and spare a stat per entry.
    if (::unlinkat(dirFd, name, 0) == 0) return true;
    if (errno != EISDIR && errno != EPERM) return false;
    struct stat st {};
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) return false;
    emptyFolderAt(dirFd, name);
    return ::unlinkat(dirFd, name, AT_REMOVEDIR) == 0;
}

bool removeItem(const std::string& path) {
    return removeEntryAt(AT_FDCWD, path.c_str());
}

}  // namespace platform
