#pragma once

// Inside the platform layer only: removal relative to an open folder.
namespace platform {

// Removes the entry `name` of the folder open at `dirFd` (AT_FDCWD with a
// path works too); a folder goes with its contents, links are never followed.
bool removeEntryAt(int dirFd, const char* name);

}  // namespace platform
