#pragma once

#include <string>

namespace platform {

// Makes the font file's families available to this process only.
bool registerFontForProcess(const std::string& path);

// Whether a font family of that exact name can be had.
bool fontFamilyAvailable(const std::string& family);

}  // namespace platform
