#include "app/options.h"

#include <algorithm>

#include "platform/files.h"

namespace app {
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

bool hasFlag(const std::vector<std::string>& args, std::string_view flag) {
    return std::find(args.begin(), args.end(), flag) != args.end();
}

std::optional<std::string> homeFolder(const std::vector<std::string>& args,
                                      const WorkingFolder& workingFolder,
                                      const std::optional<std::string>& userHome) {
    const auto it = std::find(args.begin(), args.end(), "--home");
    if (it != args.end() && std::next(it) != args.end())
        return absolutePath(*std::next(it), workingFolder);
    if (!userHome) return std::nullopt;
    const auto base = absolutePath(*userHome, workingFolder);
    if (!base) return std::nullopt;
    return platform::joinPath(*base, ".quorva");
}

std::string runtimeFolder(const std::string& home) {
    return platform::joinPath(home, "desktop");
}

bool englishRequested(const std::vector<std::string>& args) {
    return hasFlag(args, "--english");
}

}  // namespace app
