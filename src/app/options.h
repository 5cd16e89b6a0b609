#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "contract/home.h"

namespace app {

// The host's command line: "--home PATH", "--english", "--permissions".
// Matching is exact and covers the whole list, element 0 included; nothing
// else is an option and nothing here ever fails.

bool hasFlag(const std::vector<std::string>& args, std::string_view flag);

using WorkingFolder = contract::WorkingFolder;

// The home rule (contract::homeFolder) for the argument after the first
// "--home"; a "--home" with nothing after it, like none, means the default.
std::optional<std::string> homeFolder(const std::vector<std::string>& args,
                                      const WorkingFolder& workingFolder,
                                      const std::optional<std::string>& userHome);

bool englishRequested(const std::vector<std::string>& args);

}  // namespace app
