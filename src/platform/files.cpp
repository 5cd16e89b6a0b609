#include "platform/files.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/ownership.h"
#include "platform/removal.h"

namespace platform {
namespace {

// Folders are made 0700 to be private; the umask must not take the owner's
// own access away. chmod needs no read access, so even a umask of 0777
// (which leaves a new folder at 0000) is mended. A folder already there is
// taken as it is, through a link to one only with `followLinks`.
Done makeFolderAt(int dirFd, const char* name, mode_t mode, bool followLinks,
                  const std::string& path) {
    struct stat st {};
    if (::mkdirat(dirFd, name, mode) != 0) {
        const int refused = errno;
        if (::fstatat(dirFd, name, &st, followLinks ? 0 : AT_SYMLINK_NOFOLLOW) == 0)
            return S_ISDIR(st.st_mode) ? Done() : Error::of(ENOTDIR, Step::MakeFolder, path);
        // Something is there, yet nothing can be found through it.
        if (refused == EEXIST && followLinks) return Error::last(Step::FollowLink, path);
        return Error::of(refused, Step::MakeFolder, path);
    }
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return Error::last(Step::SetMode, path);
    if (!S_ISDIR(st.st_mode)) return Error::of(ENOTDIR, Step::SetMode, path);  // swapped since
    if (::fchmodat(dirFd, name, mode, 0) != 0) return Error::last(Step::SetMode, path);
    return {};
}

Done createFileAt(int dirFd, const char* name, mode_t mode, const std::string& path) {
    const FileHandle h(
        ::openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!h.valid()) return Error::last(Step::CreateFile, path);
    if (::fchmod(h.fd(), mode) != 0) return Error::last(Step::SetMode, path);
    return {};
}

// Lists the folder open at `fd` for as long as `visit` says; the descriptor
// stays open. With a failure, `error` gets its code.
Folder::Listing forEachIn(int fd, const std::function<bool(const std::string&)>& visit,
                          int* error = nullptr) {
    EntryStream entries(fd);
    while (const dirent* e = entries.next())
        if (!visit(e->d_name)) return Folder::Listing::Stopped;
    if (!entries.failed()) return Folder::Listing::Complete;
    if (error) *error = entries.error();
    return Folder::Listing::Failed;
}

Result<FileHandle> openFolderAt(int dirFd, const char* name) {
    FileHandle h(::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!h.valid()) return Error::last(Step::OpenFolder, name);
    return h;
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

Done createDirectory(const std::string& path, mode_t mode) {
    if (path.empty()) return Error::of(ENOENT, Step::MakeFolder, path);
    for (std::size_t pos = path.find('/', 1); pos != std::string::npos;
         pos = path.find('/', pos + 1)) {
        if (path[pos - 1] == '/') continue;  // "a//b"
        const std::string part = path.substr(0, pos);
        if (auto made = makeFolderAt(AT_FDCWD, part.c_str(), mode, true, part); !made) return made;
    }
    return makeFolderAt(AT_FDCWD, path.c_str(), mode, true, path);
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

Done createFile(const std::string& path, mode_t mode) {
    return createFileAt(AT_FDCWD, path.c_str(), mode, path);
}

Result<Folder> Folder::open(const std::string& path) {
    auto h = openFolderAt(AT_FDCWD, path.c_str());
    if (!h) return h.error();
    return Folder(std::move(*h));
}

Folder::Listing Folder::forEachName(const std::function<bool(const std::string&)>& visit) const {
    return forEachIn(handle_.fd(), visit);
}

Removal Folder::remove(const std::string& name, const Deadline& deadline) const {
    return removeEntryAt(handle_.fd(), name.c_str(), deadline);
}

bool Folder::exists(const std::string& name) const {
    struct stat st {};
    return ::fstatat(handle_.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool Folder::mayHoldFolder(const std::string& name) const {
    struct stat st {};
    if (::fstatat(handle_.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT;
    return S_ISDIR(st.st_mode) && trustOf(st) == Trust::Trusted;
}

Done Folder::createFolder(const std::string& name, mode_t mode) const {
    return makeFolderAt(handle_.fd(), name.c_str(), mode, false, name);
}

Done Folder::createFile(const std::string& name, mode_t mode) const {
    return createFileAt(handle_.fd(), name.c_str(), mode, name);
}

Result<Folder> Folder::openFolder(const std::string& name) const {
    auto h = openFolderAt(handle_.fd(), name.c_str());
    if (!h) return h.error();
    struct stat st {};
    if (::fstat(h->fd(), &st) != 0) return Error::last(Step::OpenFolder, name);
    if (trustOf(st) != Trust::Trusted) return Error::of(EPERM, Step::Trust, name);
    return Folder(std::move(*h));
}

Result<std::vector<std::string>> listDirectory(const std::string& path) {
    const FileHandle h(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!h.valid()) return Error::last(Step::OpenFolder, path);
    std::vector<std::string> names;
    int error = 0;
    if (forEachIn(
            h.fd(),
            [&](const std::string& name) {
                names.push_back(name);
                return true;
            },
            &error) != Folder::Listing::Complete)
        return Error::of(error, Step::List, path);
    return names;
}

bool fitsSocketAddress(std::string_view path) {
    return path.size() < sizeof(sockaddr_un::sun_path);
}

Result<std::string> realPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return Error::last(Step::Resolve, path);
    std::string out(real);
    std::free(real);
    return out;
}

std::string joinPath(std::string_view folder, std::string_view name) {
    std::string out(folder);
    if (out.empty() || out.back() != '/') out += '/';
    out += name;
    return out;
}

}  // namespace platform
