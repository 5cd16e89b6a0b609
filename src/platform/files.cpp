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

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Folders are made 0700 to be private; the umask must not take the owner's
// own access away. chmod needs no read access, so even a umask of 0777
// (which leaves a new folder at 0000) is mended. None when nothing was made
// (errno says why).
std::optional<bool> makeFolderAt(int dirFd, const char* name, mode_t mode) {
    if (::mkdirat(dirFd, name, mode) != 0) return std::nullopt;
    struct stat st {};
    return ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode) &&
           ::fchmodat(dirFd, name, mode, 0) == 0;
}

bool makeOneDirectory(const std::string& path, mode_t mode) {
    if (const auto made = makeFolderAt(AT_FDCWD, path.c_str(), mode)) return *made;
    return isDirectory(path);
}

bool createFileAt(int dirFd, const char* name, mode_t mode) {
    const FileHandle h(
        ::openat(dirFd, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    return h.valid() && ::fchmod(h.fd(), mode) == 0;
}

// Lists the folder open at `fd` for as long as `visit` says; the descriptor
// stays open.
Folder::Listing forEachIn(int fd, const std::function<bool(const std::string&)>& visit) {
    EntryStream entries(fd);
    while (const dirent* e = entries.next())
        if (!visit(e->d_name)) return Folder::Listing::Stopped;
    return entries.failed() ? Folder::Listing::Failed : Folder::Listing::Complete;
}

std::optional<FileHandle> openFolderAt(int dirFd, const char* name) {
    FileHandle h(::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!h.valid()) return std::nullopt;
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
    return createFileAt(AT_FDCWD, path.c_str(), mode);
}

std::optional<Folder> Folder::open(const std::string& path) {
    auto h = openFolderAt(AT_FDCWD, path.c_str());
    if (!h) return std::nullopt;
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

bool Folder::createFolder(const std::string& name, mode_t mode) const {
    const int fd = handle_.fd();
    if (const auto made = makeFolderAt(fd, name.c_str(), mode)) return *made;
    struct stat st {};
    return errno == EEXIST && ::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
           S_ISDIR(st.st_mode);
}

bool Folder::createFile(const std::string& name, mode_t mode) const {
    return createFileAt(handle_.fd(), name.c_str(), mode);
}

std::optional<Folder> Folder::openFolder(const std::string& name) const {
    auto h = openFolderAt(handle_.fd(), name.c_str());
    struct stat st {};
    if (!h || ::fstat(h->fd(), &st) != 0 || trustOf(st) != Trust::Trusted) return std::nullopt;
    return Folder(std::move(*h));
}

std::optional<std::vector<std::string>> listDirectory(const std::string& path) {
    const FileHandle h(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    std::vector<std::string> names;
    if (!h.valid() || forEachIn(h.fd(), [&](const std::string& name) {
                          names.push_back(name);
                          return true;
                      }) != Folder::Listing::Complete)
        return std::nullopt;
    return names;
}

bool fitsSocketAddress(std::string_view path) {
    return path.size() < sizeof(sockaddr_un::sun_path);
}

std::optional<std::string> realPath(const std::string& path) {
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real) return std::nullopt;
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
