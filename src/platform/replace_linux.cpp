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
bool replaceWith(const std::string& temp, const std::string& path) {
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE) != 0)
        return ::rename(temp.c_str(), path.c_str()) == 0;  // nothing to swap with, or no support
    if (::unlink(temp.c_str()) == 0 || errno == ENOENT) return true;
    // A folder stood at `path`, which a rename would have refused: put it back.
    ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_EXCHANGE);
    return false;
}

}  // namespace platform
