#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

#include "platform/replace.h"

namespace platform {

// Swapped in rather than renamed over the old file: on ext4 a rename over a
// file makes the renaming thread start writing the new data out (and sleep
// for it) every time. After a swap the old file, now under the temporary
// name, is unlinked; its data, unlinked within a second of being written,
// never reaches the disk at all.
bool replaceAt(int dirFd, const char* temp, const char* name) {
    if (::renameat2(dirFd, temp, dirFd, name, RENAME_EXCHANGE) != 0)
        return ::renameat(dirFd, temp, dirFd, name) == 0;  // nothing to swap with, or no support
    if (::unlinkat(dirFd, temp, 0) == 0 || errno == ENOENT) return true;
    // A folder stood at `name`, which a rename would have refused: put it back.
    ::renameat2(dirFd, temp, dirFd, name, RENAME_EXCHANGE);
    return false;
}

}  // namespace platform
