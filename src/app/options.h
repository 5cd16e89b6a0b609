#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// The host's command line: "--home PATH", "--english", "--permissions".
// Matching is exact and covers the whole list, element 0 included; nothing
// else is an option and nothing here ever fails.

bool hasFlag(const std::vector<std::string>& args, std::string_view flag);

// The argument after the first "--home" taken as a path (relative to the
// working folder, no "~" expansion), or `userHome`/.quorva when there is
// none. The working folder is asked for only when a relative path needs it:
// the home is worked out several times a second.
std::string homeFolder(const std::vector<std::string>& args,
                       const std::function<std::string()>& workingFolder,
                       const std::string& userHome);

std::string runtimeFolder(const std::string& home);

bool englishRequested(const std::vector<std::string>& args);

}  // namespace app
