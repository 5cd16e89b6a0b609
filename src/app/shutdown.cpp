#include "app/quorva_desktop.h"
#include "platform/files.h"

// Stops what start-up set going; every failure is dropped. The driver is
// signalled, not waited for.
void QuorvaDesktop::applicationWillTerminate() {
    if (timer) timer->invalidate();
    if (worker) {
        // First, so the exit that SIGTERM causes posts no second quit.
        worker->clearTerminationHandler();
        if (worker->isRunning()) worker->terminate();
    }
    // A host that never held the home (another one does) leaves that one's
    // socket alone.
    if (!runtimeLock_.valid()) return;
    if (const auto socket = runtimeEntry("driver.sock")) platform::removeItem(*socket);
}
