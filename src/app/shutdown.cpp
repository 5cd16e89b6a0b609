#include "app/quorva_desktop.h"
#include "contract/entries.h"

namespace {

// What stands at the socket's place may take long to remove (a folder of
// junk); a quit is not held up for longer than this.
constexpr std::chrono::milliseconds kSocketRemovalBudget{200};

}  // namespace

// Stops what start-up set going; every failure is dropped. The driver is
// signalled, not waited for.
void QuorvaDesktop::applicationWillTerminate() {
    if (timer) timer->invalidate();
    if (worker) {
        // First, so the exit that SIGTERM causes posts no second quit.
        worker->clearTerminationHandler();
        if (worker->isRunning()) worker->terminate();
    }
    // Only the host that holds the home removes the socket, and only from
    // the folder it holds; whatever stands there, the quit is not held up.
    if (runtimeFolder_)
        runtimeFolder_->remove(contract::kDriverSocket,
                               platform::Deadline::after(kSocketRemovalBudget));
}
