#include "platform/resources.h"

#include <sys/stat.h>

#include "platform/app_layout.h"
#include "platform/files.h"

namespace platform {

// The real executable's folder: links and the working folder play no part,
// so the app folder can be moved anywhere. Needs no toolkit: the driver is
// launched before the toolkit starts.
std::optional<std::string> programFolder() {
    const std::string exe = executablePath();
    if (exe.empty() || exe.front() != '/') return std::nullopt;
    const auto slash = exe.find_last_of('/');
    return slash == 0 ? "/" : exe.substr(0, slash);
}

std::optional<std::string> resourceFolder() {
    const auto bin = programFolder();
    if (!bin) return std::nullopt;
    return resourceFolderOf(*bin);
}

std::optional<std::string> resourcePath(const std::string& name, const std::string& extension) {
    const auto folder = resourceFolder();
    if (!folder) return std::nullopt;
    std::string path = joinPath(*folder, name + "." + extension);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return path;
}

}  // namespace platform
