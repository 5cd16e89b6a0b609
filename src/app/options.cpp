#include "app/options.h"

#include <algorithm>

#include "platform/files.h"

namespace app {
namespace {

// As a file URL made from a path: relative paths hang off the working
// folder; a trailing "/" names the same folder.
std::string absolutePath(const std::string& path,
                         const std::function<std::string()>& workingFolder) {
    std::string out = (!path.empty() && path.front() == '/') ? path
                      : path.empty()                         ? workingFolder()
                                     : platform::joinPath(workingFolder(), path);
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

}  // namespace

bool hasFlag(const std::vector<std::string>& args, std::string_view flag) {
    return std::find(args.begin(), args.end(), flag) != args.end();
}

std::string homeFolder(const std::vector<std::string>& args,
                       const std::function<std::string()>& workingFolder,
                       const std::string& userHome) {
    const auto it = std::find(args.begin(), args.end(), "--home");
    if (it != args.end() && std::next(it) != args.end())
        return absolutePath(*std::next(it), workingFolder);
    return platform::joinPath(absolutePath(userHome, workingFolder), ".quorva");
}

std::string runtimeFolder(const std::string& home) {
    return platform::joinPath(home, "desktop");
}

bool englishRequested(const std::vector<std::string>& args) {
    return hasFlag(args, "--english");
}

}  // namespace app
