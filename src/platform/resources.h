#pragma once

#include <optional>
#include <string>

namespace platform {

// The running program's real path (links resolved); empty if unknown.
std::string executablePath();

// The app folder's resource folder: <folder of the real executable>/../Resources.
std::string resourceFolder();

// The resource `name`.`extension` when such a file is there.
std::optional<std::string> resourcePath(const std::string& name, const std::string& extension);

// Makes the font file's families available to this process only.
bool registerFontForProcess(const std::string& path);

// Whether a font family of that exact name can be had.
bool fontFamilyAvailable(const std::string& family);

}  // namespace platform
