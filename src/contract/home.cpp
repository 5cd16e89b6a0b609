#include "contract/home.h"

#include "contract/entries.h"
#include "platform/files.h"

namespace contract {
namespace {

// As a file URL made from a path: relative paths hang off the working
// folder; a trailing "/" names the same folder. None when a relative path
// needs a working folder that cannot be had.
std::optional<std::string> absolutePath(const std::string& path,
                                        const WorkingFolder& workingFolder) {
    std::string out;
    if (!path.empty() && path.front() == '/') {
        out = path;
    } else if (auto cwd = workingFolder()) {
        out = path.empty() ? *cwd : platform::joinPath(*cwd, path);
    } else {
        return std::nullopt;
    }
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

}  // namespace

std::optional<std::string> homeFolder(const std::optional<std::string>& given,
                                      const WorkingFolder& workingFolder,
                                      const std::optional<std::string>& userHome) {
    if (given) return absolutePath(*given, workingFolder);
    if (!userHome) return std::nullopt;
    const auto base = absolutePath(*userHome, workingFolder);
    if (!base) return std::nullopt;
    return platform::joinPath(*base, kDefaultHomeName);
}

std::string runtimeFolder(const std::string& home) {
    return platform::joinPath(home, kRuntimeFolderName);
}

}  // namespace contract
