#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/removal.h"
#include "platform/replace.h"

namespace platform {
namespace {

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Folders are made 0700 to be private; the umask must not take the owner's
// own access away. chmod needs no read access, so even a umask of 0777
// (which leaves a new folder at 0000) is mended.
bool makeOneDirectory(const std::string& path, mode_t mode) {
    if (::mkdir(path.c_str(), mode) == 0) {
        struct stat st {};
        return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
               ::chmod(path.c_str(), mode) == 0;
    }
    return isDirectory(path);
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

namespace {

// Lists the folder open at `fd`; the descriptor stays open.
std::optional<std::vector<std::string>> namesIn(int fd) {
    const int listFd = ::dup(fd);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0) ::close(listFd);
        return std::nullopt;
    }
    ::rewinddir(dir);  // the duplicate shares the offset of an earlier listing
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        names.emplace_back(e->d_name);
    }
    ::closedir(dir);
    return names;
}

}  // namespace

std::optional<Folder> Folder::open(const std::string& path) {
    FileHandle h(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!h.valid()) return std::nullopt;
    return Folder(std::move(h));
}

std::optional<std::vector<std::string>> Folder::names() const {
    return namesIn(handle_.fd());
}

bool Folder::remove(const std::string& name) const {
    return removeEntryAt(handle_.fd(), name.c_str());
}

std::optional<std::vector<std::string>> listDirectory(const std::string& path) {
    const FileHandle h(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return h.valid() ? namesIn(h.fd()) : std::nullopt;
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

namespace {

// Opens the temporary file afresh, clearing whatever a killed writer (or
// anyone else) left under its name, a link included; a folder is left alone.
FileHandle createTemporary(const std::string& temp) {
    constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    FileHandle h(::open(temp.c_str(), flags, 0666));
    if (!h.valid() && errno == EEXIST && ::unlink(temp.c_str()) == 0)
        h = FileHandle(::open(temp.c_str(), flags, 0666));
    return h;
}

// Created with 0666 so the umask decides the other bits, as for any file, but
// the owner keeps read and write access whatever the umask.
bool ownerCanReadAndWrite(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    return (st.st_mode & 0600) == 0600 || ::fchmod(fd, (st.st_mode & 07777) | 0600) == 0;
}

bool writeAll(int fd, std::string_view bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0 || errno != EINTR) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool writeFileAtomically(const std::string& path, std::string_view bytes) {
    const std::string temp = joinPath(parentFolder(path), "." + lastComponent(path) + ".tmp");
    FileHandle h = createTemporary(temp);
    if (!h.valid()) return false;
    bool ok = ownerCanReadAndWrite(h.fd()) && writeAll(h.fd(), bytes);
    ok = ::close(h.release()) == 0 && ok;
    ok = ok && replaceWith(temp, path);
    if (!ok) ::unlink(temp.c_str());
    return ok;
}

LockOutcome lockFolder(const std::string& path, FileHandle& holder) {
    FileHandle h(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!h.valid()) return LockOutcome::Failed;
    while (::flock(h.fd(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return LockOutcome::HeldElsewhere;
        if (errno != EINTR) return LockOutcome::Failed;
    }
    holder = std::move(h);
    return LockOutcome::Acquired;
}

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (out.empty() || out.back() != '/') out += '/';
    out += name;
    return out;
}

}  // namespace platform
