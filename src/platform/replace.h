#pragma once

#include <string>

// Inside the platform layer only: one file per system.
namespace platform {

// Puts the file `temp` at `path` in one step, replacing what was there (but
// never a folder); readers see the old file or the new one, whole. `temp` is
// gone afterwards when this succeeds.
bool replaceWith(const std::string& temp, const std::string& path);

}  // namespace platform
