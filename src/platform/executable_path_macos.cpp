#include <mach-o/dyld.h>
#include <stdlib.h>

#include <climits>

#include "platform/resources.h"

namespace platform {

std::string executablePath() {
    char raw[PATH_MAX], real[PATH_MAX];
    uint32_t size = sizeof raw;
    if (_NSGetExecutablePath(raw, &size) != 0 || !::realpath(raw, real)) return {};
    return real;
}

}  // namespace platform
