// Apart from files.cpp so that the host, which only ever acts, does not carry
// what only a client telling why a host failed asks.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"

namespace platform {

Done canCreateDirectory(const std::string& path) {
    if (path.empty()) return Error::of(ENOENT, Step::MakeFolder, path);
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        if (end != std::string::npos && path[end - 1] == '/') continue;  // "a//b"
        const std::string part = path.substr(0, end);
        struct stat st {};
        if (::stat(part.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return Error::of(ENOTDIR, Step::MakeFolder, part);
            if (end == std::string::npos) return {};
            continue;
        }
        if (errno == ELOOP) return Error::last(Step::FollowLink, part);
        if (errno != ENOENT) return Error::last(Step::MakeFolder, part);
        if (::lstat(part.c_str(), &st) == 0) return Error::of(ENOENT, Step::FollowLink, part);
        // The first missing folder: the rest can be made once it can.
        const auto slash = part.find_last_of('/');
        const std::string parent = slash == 0 ? "/" : part.substr(0, slash);
        if (::faccessat(AT_FDCWD, parent.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
            return Error::last(Step::MakeFolder, part);
        return {};
    }
}

}  // namespace platform
