#pragma once

// Inside the platform layer only: one file per system.
namespace platform {

// Puts the file `temp` at `name`, both in the folder open at `dirFd`, in one
// step, replacing what was there (but never a folder); readers see the old
// file or the new one, whole. `temp` is gone afterwards when this succeeds.
bool replaceAt(int dirFd, const char* temp, const char* name);

}  // namespace platform
