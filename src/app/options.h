#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace app {

// The host's command line: "--home PATH", "--english", "--permissions".
// Matching is exact and covers the whole list, element 0 included; nothing
// else is an option and nothing here ever fails.

bool hasFlag(const std::vector<std::string>& args, std::string_view flag);

// The argument after the first "--home" taken as a path (relative to `cwd`,
// no "~" expansion), or `userHome`/.quorva when there is none.
std::string homeFolder(const std::vector<std::string>& args, const std::string& cwd,
                       const std::string& userHome);

std::string runtimeFolder(const std::string& home);

bool englishRequested(const std::vector<std::string>& args);

}  // namespace app
