#pragma once

// Inside the platform layer only: one file per system.
namespace platform {

// Puts the file `temp` at `name`, both in the folder open at `dirFd`, in one
// step; readers see the old file or the new one, whole. What stood at `name`
// may be left under `temp` for the caller to remove. Fails (leaving both as
// they were) where a file cannot take the place of what stands at `name`.
bool replaceAt(int dirFd, const char* temp, const char* name);

}  // namespace platform
