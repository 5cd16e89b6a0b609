#include <signal.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "client/causes.h"
#include "client/host_process.h"
#include "client/trust.h"
#include "quorva/client.h"

namespace quorva {

// Only the process that holds the home's lock is signalled, never a pid
// taken from the file alone: the file outlives its host, and pids are reused.
Outcome stopHost(const std::string& home, std::chrono::milliseconds timeout, bool* wasRunning) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const std::string runtime = runtimeFolder(home);
    if (auto why = detail::distrustFolder(runtime); !why.empty()) return Outcome::failure(why);
    const Status s = readStatus(home);
    // Without a readable status the lock still names the host.
    const auto holder = s.running ? std::optional(s.hostPid) : detail::lockHolder(runtime);
    if (!holder)
        return Outcome::failure("cannot tell whether a host holds " + home + ": " +
                                std::strerror(errno));
    const int pid = *holder;
    if (wasRunning) *wasRunning = pid > 0;
    if (pid <= 0) return Outcome::success();
    if (!detail::signalHost(pid, runtime, SIGTERM) && detail::isHostOf(pid, runtime))
        return Outcome::failure("cannot signal the host (pid " + std::to_string(pid) +
                                "): " + std::strerror(errno));
    // While it cannot be told, the host is taken to be there still.
    while (detail::holdsLock(pid, runtime).value_or(true)) {
        if (std::chrono::steady_clock::now() > deadline)
            return Outcome::failure(
                "the host (pid " + std::to_string(pid) + ") still holds " + home + " " +
                detail::seconds(static_cast<double>(timeout.count()) / 1000.0) + " after SIGTERM");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return Outcome::success();
}

}  // namespace quorva
