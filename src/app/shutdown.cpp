#include "app/quorva_desktop.h"
#include "supervision/clients.h"

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
        runtimeFolder_->remove("driver.sock",
                               platform::Deadline::after(supervision::kTickWorkBudget));
}
