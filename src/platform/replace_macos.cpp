#include <stdio.h>

#include "platform/replace.h"

namespace platform {

bool replaceAt(int dirFd, const char* temp, const char* name) {
    return ::renameat(dirFd, temp, dirFd, name) == 0;
}

}  // namespace platform
