#pragma once

#include <string>

namespace platform {

// The app folder's layout, as a macOS bundle has it: the programs in one
// folder, the resources in "Resources" beside it. Worked out from the path
// alone; nothing is looked at.
std::string resourceFolderOf(const std::string& programFolder);

}  // namespace platform
