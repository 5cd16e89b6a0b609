#pragma once

#include <optional>
#include <string>

namespace platform {

// The running program's real path (links resolved); empty if unknown.
std::string executablePath();

// The folder of the running program's real executable; none when it cannot
// be known (no /proc, a path too long to name): then the host has no app
// folder, and nothing may be looked for relative to "/" in its place.
std::optional<std::string> programFolder();

// The app folder's resource folder: <programFolder()>/../Resources.
std::optional<std::string> resourceFolder();

// The resource `name`.`extension` when such a file is there.
std::optional<std::string> resourcePath(const std::string& name, const std::string& extension);

}  // namespace platform
