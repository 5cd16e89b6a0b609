#include "app/options.h"

#include <algorithm>

namespace app {

bool hasFlag(const std::vector<std::string>& args, std::string_view flag) {
    return std::find(args.begin(), args.end(), flag) != args.end();
}

std::optional<std::string> homeFolder(const std::vector<std::string>& args,
                                      const WorkingFolder& workingFolder,
                                      const std::optional<std::string>& userHome) {
    const auto it = std::find(args.begin(), args.end(), "--home");
    std::optional<std::string> given;
    if (it != args.end() && std::next(it) != args.end()) given = *std::next(it);
    return contract::homeFolder(given, workingFolder, userHome);
}

bool englishRequested(const std::vector<std::string>& args) {
    return hasFlag(args, "--english");
}

}  // namespace app
