#include <unistd.h>

#include <climits>

#include "platform/resources.h"

namespace platform {

// The kernel's answer names the real file, links resolved.
std::string executablePath() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

}  // namespace platform
