#include "platform/runtime_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ownership.h"
#include "platform/replace.h"

namespace platform {
namespace {

// Created with 0666 so the umask decides the other bits, as for any file, but
// the owner keeps read and write access whatever the umask.
Done ownerCanReadAndWrite(int fd, const std::string& name) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return Error::last(Step::SetMode, name);
    if ((st.st_mode & 0600) == 0600 || ::fchmod(fd, (st.st_mode & 07777) | 0600) == 0) return {};
    return Error::last(Step::SetMode, name);
}

Done writeAll(int fd, std::string_view bytes, const std::string& name) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n == 0) {
            return Error::of(ENOSPC, Step::Write, name);  // no progress: a full device
        } else if (errno != EINTR) {
            return Error::last(Step::Write, name);
        }
    }
    return {};
}

}  // namespace

Result<RuntimeFolder> RuntimeFolder::open(const std::string& path) {
    struct stat at {
    }, st{};
    if (::lstat(path.c_str(), &at) != 0) return Error::last(Step::OpenFolder, path);
    const bool link = S_ISLNK(at.st_mode);
    if (link && at.st_uid != ::geteuid())  // a link someone else made
        return Error::of(EPERM, Step::Trust, path);
    FileHandle h(
        ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (link ? 0 : O_NOFOLLOW)));
    if (!h.valid() || ::fstat(h.fd(), &st) != 0)
        return Error::last(link && errno == ENOENT ? Step::FollowLink : Step::OpenFolder, path);
    if (trustOf(st) != Trust::Trusted) return Error::of(EPERM, Step::Trust, path);
    std::optional<Identity> through;
    if (link) {
        // The link followed must be the one judged; one swapped meanwhile
        // may be tried again.
        struct stat again {};
        if (::lstat(path.c_str(), &again) != 0 || again.st_dev != at.st_dev ||
            again.st_ino != at.st_ino)
            return Error::of(EAGAIN, Step::FollowLink, path);
        through = Identity{at.st_dev, at.st_ino};
    }
    return RuntimeFolder(std::move(h), {st.st_dev, st.st_ino}, through);
}

LockOutcome RuntimeFolder::lock() const {
    while (::flock(handle_.fd(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return LockOutcome::HeldElsewhere;
        if (errno != EINTR) return LockOutcome::Failed;
    }
    return LockOutcome::Acquired;
}

namespace {

// Whether a failed lookup says for certain that nothing is there.
bool definitelyGone(int error) {
    return error == ENOENT || error == ENOTDIR || error == ELOOP || error == EACCES ||
           error == ENAMETOOLONG;
}

}  // namespace

bool RuntimeFolder::isNamedBy(const std::string& path) const {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return !definitelyGone(errno);
    if (link_) {
        if (!S_ISLNK(st.st_mode) || st.st_dev != link_->dev || st.st_ino != link_->ino)
            return false;
        if (::stat(path.c_str(), &st) != 0) return !definitelyGone(errno);
    } else if (!S_ISDIR(st.st_mode)) {
        return false;
    }
    return st.st_dev == folder_.dev && st.st_ino == folder_.ino;
}

Result<FileHandle> RuntimeFolder::openLog(const std::string& name, bool create, mode_t mode) const {
    // O_NONBLOCK only so that a FIFO fails (or is found out) instead of hanging.
    const int flags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC |
                      (create ? O_CREAT | O_EXCL : 0);
    FileHandle h(::openat(handle_.fd(), name.c_str(), flags, mode));
    if (!h.valid()) return Error::last(create ? Step::CreateFile : Step::OpenFile, name);
    struct stat st {};
    if (::fstat(h.fd(), &st) != 0) return Error::last(Step::OpenFile, name);
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1)
        return Error::of(EPERM, Step::Trust, name);
    if (create && ::fchmod(h.fd(), mode) != 0) return Error::last(Step::SetMode, name);
    const int fl = ::fcntl(h.fd(), F_GETFL);
    if (fl < 0 || ::fcntl(h.fd(), F_SETFL, fl & ~O_NONBLOCK) != 0 ||
        ::lseek(h.fd(), 0, SEEK_END) < 0)
        return Error::last(Step::SetMode, name);
    return h;
}

Done RuntimeFolder::writeAtomically(const std::string& name, std::string_view bytes,
                                    const Deadline& deadline) const {
    const std::string temp = "." + name + ".tmp";
    // Whatever stands under the temporary name goes first; a folder that is
    // not gone by the deadline waits for the next write.
    if (exists(temp) && remove(temp, deadline) != Removal::Removed)
        return Error::of(EBUSY, Step::Remove, temp);
    Done done = writeTemporary(temp, bytes);
    if (done) done = putInPlace(temp, name, deadline);
    // The old file, or what stood in its place, swapped out; or the new
    // file, when it could not be put in place.
    if (exists(temp)) remove(temp, deadline);
    return done;
}

Done RuntimeFolder::writeTemporary(const std::string& temp, std::string_view bytes) const {
    FileHandle h(::openat(handle_.fd(), temp.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (!h.valid()) return Error::last(Step::CreateFile, temp);
    if (auto set = ownerCanReadAndWrite(h.fd(), temp); !set) return set;
    if (auto written = writeAll(h.fd(), bytes, temp); !written) return written;
    // A write the file system defers can still fail here.
    if (::close(h.release()) != 0) return Error::last(Step::Write, temp);
    return {};
}

Done RuntimeFolder::putInPlace(const std::string& temp, const std::string& name,
                               const Deadline& deadline) const {
    const int dir = handle_.fd();
    if (replaceAt(dir, temp.c_str(), name.c_str())) return {};
    // Something a file cannot be renamed over (a folder) stands there.
    const Error refused = Error::last(Step::Replace, name);
    if (remove(name, deadline) != Removal::Removed) return refused;
    if (replaceAt(dir, temp.c_str(), name.c_str())) return {};
    return Error::last(Step::Replace, name);
}

}  // namespace platform
