#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace app {

// The host's command line: "--home PATH", "--english", "--permissions".
// Matching is exact and covers the whole list, element 0 included; nothing
// else is an option and nothing here ever fails.

bool hasFlag(const std::vector<std::string>& args, std::string_view flag);

using WorkingFolder = std::function<std::optional<std::string>()>;

// The argument after the first "--home" taken as a path (relative to the
// working folder, no "~" expansion), or `userHome`/.quorva when there is
// none. The working folder is asked for only when a relative path needs it:
// the home is worked out several times a second. None when the path needs a
// working folder or user home that cannot be had: then there is no home.
std::optional<std::string> homeFolder(const std::vector<std::string>& args,
                                      const WorkingFolder& workingFolder,
                                      const std::optional<std::string>& userHome);

std::string runtimeFolder(const std::string& home);

bool englishRequested(const std::vector<std::string>& args);

}  // namespace app
