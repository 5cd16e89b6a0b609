#pragma once

#include <dirent.h>

#include "platform/deadline.h"
#include "platform/files.h"

// Inside the platform layer only: listing and removal relative to an open
// folder.
namespace platform {

// A listing of the folder open at `folderFd`, read entry by entry from its
// start, through a stream of its own that closes with it (the folder's
// descriptor stays the caller's). A folder another process keeps filling is
// never read to an end that keeps moving away.
class EntryStream {
  public:
    explicit EntryStream(int folderFd);
    ~EntryStream();
    EntryStream(const EntryStream&) = delete;
    EntryStream& operator=(const EntryStream&) = delete;

    // The next entry, "." and ".." left out; null at the end of the listing
    // or when it failed (or could not be opened at all), which failed() tells.
    const dirent* next();
    bool failed() const { return error_ != 0; }
    int error() const { return error_; }  // the errno it failed with

  private:
    DIR* dir_ = nullptr;
    int error_ = 0;
};

// Removes the entry `name` of the folder open at `dirFd` (AT_FDCWD with a
// path works too); a folder goes with its contents, links are never followed.
// Stops once `deadline` has passed, leaving what is left for a later call.
Removal removeEntryAt(int dirFd, const char* name, const Deadline& deadline);

}  // namespace platform
