#include <signal.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "client/causes.h"
#include "client/host_process.h"
#include "client/status_json.h"
#include "quorva/client.h"

namespace quorva {
namespace {

using Clock = std::chrono::steady_clock;

std::string after(std::chrono::milliseconds timeout) {
    return detail::seconds(static_cast<double>(timeout.count()) / 1000.0) + " after SIGTERM";
}

}  // namespace

// Only a process shown to be this home's host is signalled: it holds the
// home's lock, runs the host's program, and the status it wrote names it.
// Never a pid taken from the file alone (the file outlives its host, and pids
// are reused), nor whatever else holds the lock (`flock` run on the folder).
Outcome stopHost(const std::string& home, std::chrono::milliseconds timeout, bool* wasRunning) try {
    const auto deadline = Clock::now() + timeout;
    const std::string runtime = runtimeFolder(home);
    if (wasRunning) *wasRunning = false;
    for (;; std::this_thread::sleep_for(std::chrono::milliseconds(10))) {
        detail::Unread why;
        const Status s = detail::readStatus(home, why);
        if (why == detail::Unread::CannotLook) return Outcome::failure(s.error);
        if (!s.running) {
            const auto holder = detail::lockHolder(runtime);
            if (!holder)
                return Outcome::failure("cannot tell whether a host holds " + detail::quoted(home) +
                                        ": " + std::strerror(errno));
            if (!holder->pid) return Outcome::success();
            if (holder->pid > 0 && !holder->host)
                return Outcome::failure(detail::notTheHost(*holder, runtime) + ": left alone");
            // A host that is starting names itself at the end of its start; one
            // that cannot be seen may be a host whose end is not quite over.
            if (Clock::now() <= deadline) continue;
            if (holder->pid < 0)
                return Outcome::failure(detail::notTheHost(*holder, runtime) + ": left alone");
            return Outcome::failure("the host (pid " + std::to_string(holder->pid) + ") holding " +
                                    detail::quoted(home) + " has not written its status" +
                                    (s.error.empty() ? "" : " (" + s.error + ")") +
                                    ": not stopped");
        }
        // Pinned, then checked: the signal reaches the process that was checked.
        const detail::Watched host(s.hostPid);
        if (!detail::isHostOf(s.hostPid, runtime)) continue;  // it has just ended
        // Its driver and the driver's guard; the host ends them as it quits.
        const auto children = detail::watchChildren(s.hostPid);
        if (!host.signal(SIGTERM) && !host.ended())
            return Outcome::failure("cannot signal the host (pid " + std::to_string(s.hostPid) +
                                    "): " + std::strerror(errno));
        if (wasRunning) *wasRunning = true;
        if (!detail::awaitEnd({&host}, deadline))
            return Outcome::failure("the host (pid " + std::to_string(s.hostPid) +
                                    ") still holds " + detail::quoted(home) + " " + after(timeout));
        // So that a host started next never has its driver beside this one's.
        std::vector<const detail::Watched*> rest;
        for (const auto& child : children) rest.push_back(&child);
        if (detail::awaitEnd(rest, deadline)) return Outcome::success();
        for (const auto& child : children)
            if (!child.ended())
                return Outcome::failure("the host (pid " + std::to_string(s.hostPid) +
                                        ") has ended, but pid " + std::to_string(child.pid()) +
                                        " (" + detail::quoted(detail::programName(child.pid())) +
                                        ") it started still runs " + after(timeout));
        return Outcome::success();
    }
} catch (const std::exception& e) {
    return Outcome::failure(std::string("cannot stop the host: ") + e.what());
}

}  // namespace quorva
