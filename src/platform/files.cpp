#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/removal.h"

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

// Lists the folder open at `fd` for as long as `visit` says; the descriptor
// stays open. Read entry by entry, so a folder another process keeps filling
// is never read to an end that keeps moving away.
Folder::Listing forEachIn(int fd, const std::function<bool(const std::string&)>& visit) {
    const int listFd = ::dup(fd);
    DIR* dir = listFd >= 0 ? ::fdopendir(listFd) : nullptr;
    if (!dir) {
        if (listFd >= 0) ::close(listFd);
        return Folder::Listing::Failed;
    }
    ::rewinddir(dir);  // the duplicate shares the offset of an earlier listing
    auto outcome = Folder::Listing::Complete;
    while (const dirent* e = ::readdir(dir)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..")) continue;
        if (!visit(e->d_name)) {
            outcome = Folder::Listing::Stopped;
            break;
        }
    }
    ::closedir(dir);
    return outcome;
}

}  // namespace

std::optional<Folder> Folder::open(const std::string& path) {
    return openAt(AT_FDCWD, path.c_str());
}

std::optional<Folder> Folder::openAt(int dirFd, const char* name) {
    FileHandle h(::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!h.valid()) return std::nullopt;
    return Folder(std::move(h));
}

Folder::Listing Folder::forEachName(const std::function<bool(const std::string&)>& visit) const {
    return forEachIn(handle_.fd(), visit);
}

Removal Folder::remove(const std::string& name, const Deadline& deadline) const {
    return removeEntryAt(handle_.fd(), name.c_str(), deadline);
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
