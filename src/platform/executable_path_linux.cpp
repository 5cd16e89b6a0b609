#include <unistd.h>

#include <climits>

#include "platform/resources.h"

namespace platform {

// The kernel's answer names the real file, links resolved. An answer that
// fills the buffer may have been cut short, and is no answer.
std::string executablePath() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
    return n > 0 && n < static_cast<ssize_t>(sizeof buf)
               ? std::string(buf, static_cast<std::size_t>(n))
               : std::string();
}

}  // namespace platform
