#include "platform/runtime_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/removal.h"
#include "platform/replace.h"

namespace platform {
namespace {

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

std::optional<RuntimeFolder> RuntimeFolder::open(const std::string& path) {
    FileHandle h(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!h.valid() || ::fstat(h.fd(), &st) != 0) return std::nullopt;
    return RuntimeFolder(std::move(h), st.st_dev, st.st_ino);
}

LockOutcome RuntimeFolder::lock() const {
    while (::flock(handle_.fd(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return LockOutcome::HeldElsewhere;
        if (errno != EINTR) return LockOutcome::Failed;
    }
    return LockOutcome::Acquired;
}

bool RuntimeFolder::isNamedBy(const std::string& path) const {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return !(errno == ENOENT || errno == ENOTDIR || errno == ELOOP || errno == EACCES ||
                 errno == ENAMETOOLONG);
    return S_ISDIR(st.st_mode) && st.st_dev == dev_ && st.st_ino == ino_;
}

bool RuntimeFolder::exists(const std::string& name) const {
    struct stat st {};
    return ::fstatat(handle_.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

// chmod needs no read access, so even a umask of 0777 (which leaves a new
// folder at 0000) is mended.
bool RuntimeFolder::createFolder(const std::string& name, mode_t mode) const {
    const int fd = handle_.fd();
    struct stat st {};
    if (::mkdirat(fd, name.c_str(), mode) == 0)
        return ::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
               ::fchmodat(fd, name.c_str(), mode, 0) == 0;
    return errno == EEXIST && ::fstatat(fd, name.c_str(), &st, 0) == 0 && S_ISDIR(st.st_mode);
}

bool RuntimeFolder::createFile(const std::string& name, mode_t mode) const {
    const FileHandle h(::openat(handle_.fd(), name.c_str(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    return h.valid() && ::fchmod(h.fd(), mode) == 0;
}

std::optional<FileHandle> RuntimeFolder::openForAppending(const std::string& name) const {
    // O_NONBLOCK only so that a FIFO without a reader fails instead of hanging.
    FileHandle h(::openat(handle_.fd(), name.c_str(),
                          O_WRONLY | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!h.valid()) return std::nullopt;
    const int flags = ::fcntl(h.fd(), F_GETFL);
    if (flags < 0 || ::fcntl(h.fd(), F_SETFL, flags & ~O_NONBLOCK) != 0) return std::nullopt;
    if (::lseek(h.fd(), 0, SEEK_END) < 0) return std::nullopt;
    return h;
}

bool RuntimeFolder::writeAtomically(const std::string& name, std::string_view bytes) const {
    const int dir = handle_.fd();
    const std::string temp = "." + name + ".tmp";
    constexpr int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    FileHandle h(::openat(dir, temp.c_str(), flags, 0666));
    if (!h.valid() && errno == EEXIST && ::unlinkat(dir, temp.c_str(), 0) == 0)
        h = FileHandle(::openat(dir, temp.c_str(), flags, 0666));
    if (!h.valid()) return false;
    bool ok = ownerCanReadAndWrite(h.fd()) && writeAll(h.fd(), bytes);
    ok = ::close(h.release()) == 0 && ok;
    ok = ok && replaceAt(dir, temp.c_str(), name.c_str());
    if (!ok) ::unlinkat(dir, temp.c_str(), 0);
    return ok;
}

Removal RuntimeFolder::remove(const std::string& name, const Deadline& deadline) const {
    return removeEntryAt(handle_.fd(), name.c_str(), deadline);
}

std::optional<Folder> RuntimeFolder::openFolder(const std::string& name) const {
    return Folder::openAt(handle_.fd(), name.c_str());
}

}  // namespace platform
