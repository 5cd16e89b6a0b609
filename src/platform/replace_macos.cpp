#include <stdio.h>

#include "platform/replace.h"

namespace platform {

bool replaceWith(const std::string& temp, const std::string& path) {
    return ::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace platform
