#pragma once

#include "platform/deadline.h"
#include "platform/files.h"

// Inside the platform layer only: removal relative to an open folder.
namespace platform {

// Removes the entry `name` of the folder open at `dirFd` (AT_FDCWD with a
// path works too); a folder goes with its contents, links are never followed.
// Stops once `deadline` has passed, leaving what is left for a later call.
Removal removeEntryAt(int dirFd, const char* name, const Deadline& deadline);

}  // namespace platform
