#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include "platform/replace.h"

namespace platform {

// Swapped in rather than renamed over the old file: on ext4 a rename over a
// file makes the renaming thread start writing the new data out (and sleep
// for it) every time. After a swap the old file, now under the temporary
// name, is for the caller to remove; its data, unlinked within a second of
// being written, never reaches the disk at all.
bool replaceAt(int dirFd, const char* temp, const char* name) {
    if (::renameat2(dirFd, temp, dirFd, name, RENAME_EXCHANGE) == 0) return true;
    return ::renameat(dirFd, temp, dirFd, name) == 0;  // nothing to swap with, or no support
}

}  // namespace platform
