#pragma once

#include <functional>
#include <optional>
#include <string>

namespace contract {

using WorkingFolder = std::function<std::optional<std::string>()>;

// The home for `given` (a --home value) taken as a path (relative to the
// working folder, no "~" expansion), or `userHome`/.quorva without one. The
// working folder is asked for only when a relative path needs it: the home
// is worked out several times a second. None when the path needs a working
// folder or user home that cannot be had: then there is no home.
std::optional<std::string> homeFolder(const std::optional<std::string>& given,
                                      const WorkingFolder& workingFolder,
                                      const std::optional<std::string>& userHome);

// <home>/desktop.
std::string runtimeFolder(const std::string& home);

}  // namespace contract
