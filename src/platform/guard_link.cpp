#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/guard_link.h"

namespace platform::guard {

// The host's quit signals may interrupt the wait; they do not shorten it.
bool awaitArmed(int hostEnd) {
    using Clock = std::chrono::steady_clock;
    const auto end = Clock::now() + std::chrono::milliseconds(kArmTimeoutMs);
    pollfd answer{hostEnd, POLLIN, 0};
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now());
        const int ready = ::poll(&answer, 1, static_cast<int>(std::max<long>(left.count(), 0)));
        if (ready == 1) break;
        if (ready == 0 || errno != EINTR) return false;
    }
    char byte = 0;
    ssize_t n;
    while ((n = ::read(hostEnd, &byte, 1)) < 0 && errno == EINTR) {
    }
    return n == 1 && byte == kArmed;
}

}  // namespace platform::guard
