#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {
namespace {

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool makeOneDirectory(const std::string& path, mode_t mode) {
    if (::mkdir(path.c_str(), mode) == 0) {
        // mkdir honours the umask; the folder must get `mode` exactly.
        const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) return false;
        const bool ok = ::fchmod(fd, mode) == 0;
        ::close(fd);
        return ok;
    }
    return isDirectory(path);
}

// Empties the folder open at `dirFd` without following any link.
bool removeContents(int dirFd) {
    DIR* dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return false;
    }
    bool ok = true;
    while (const dirent* e = ::readdir(dir)) {
        const char* name = e->d_name;
        if (!std::strcmp(name, ".") || !std::strcmp(name, "..")) continue;
        struct stat st {};
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = ok && errno == ENOENT;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            const int child =
                ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0 || !removeContents(child)) ok = false;
            if (::unlinkat(dirFd, name, AT_REMOVEDIR) != 0 && errno != ENOENT) ok = false;
        } else if (::unlinkat(dirFd, name, 0) != 0 && errno != ENOENT) {
            ok = false;
        }
    }
    ::closedir(dir);
    return ok;
}

std::string parentFolder(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string lastComponent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

FileHandle& FileHandle::operator=(FileHandle&& o) noexcept {
    if (this != &o) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = o.release();
    }
    return *this;
}

FileHandle::~FileHandle() {
    if (fd_ >= 0) ::close(fd_);
}

int FileHandle::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

bool createDirectory(const std::string& path, mode_t mode) {
    if (path.empty()) return false;
    for (std::size_t pos = path.find('/', 1); pos != std::string::npos;
         pos = path.find('/', pos + 1)) {
        if (path[pos - 1] == '/') continue;  // "a//b"
        if (!makeOneDirectory(path.substr(0, pos), mode)) return false;
    }
    return makeOneDirectory(path, mode);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool createFile(const std::string& path, mode_t mode) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) return false;
    const bool ok = ::fchmod(fd, mode) == 0;
    ::close(fd);
    return ok;
}

bool removeItem(const std::string& path) {
    // Most entries are files: try that first and spare a stat per entry.
    if (::unlink(path.c_str()) == 0) return true;
    if (errno != EISDIR && errno != EPERM) return false;
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) removeContents(fd);
    return ::rmdir(path.c_str()) == 0;
}

std::optional<std::vector<std::string>> listDirectory(const std::string& path) {
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return std::nullopt;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        names.emplace_back(e->d_name);
    }
    ::closedir(dir);
    return names;
}

std::optional<FileHandle> openForAppending(const std::string& path) {
    // O_NONBLOCK only so that a FIFO without a reader fails instead of hanging.
    FileHandle h(::open(path.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!h.valid()) return std::nullopt;
    const int flags = ::fcntl(h.fd(), F_GETFL);
    if (flags < 0 || ::fcntl(h.fd(), F_SETFL, flags & ~O_NONBLOCK) != 0) return std::nullopt;
    if (::lseek(h.fd(), 0, SEEK_END) < 0) return std::nullopt;
    return h;
}

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
    // A name of this process's own, the same one each time so the folder does
    // not fill with dead names; O_EXCL never reuses a stranger's file (one
    // left by a crashed process of the same pid just moves us on to ".1").
    // Created with 0666 so the umask alone decides the bits, as for any file.
    const std::string base =
        joinPath(parentFolder(path), "." + lastComponent(path) + "." + std::to_string(::getpid()));
    std::string temp;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 64; ++attempt) {
        temp = attempt == 0 ? base : base + "." + std::to_string(attempt);
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;
    bool ok = true;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            ok = false;
        }
    }
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (out.empty() || out.back() != '/') out += '/';
    out += name;
    return out;
}

}  // namespace platform
