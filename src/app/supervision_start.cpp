#include "app/options.h"
#include "app/quorva_desktop.h"

// After a successful launch only; anything here that fails stops the driver
// again, as a quit does.
void QuorvaDesktop::applicationDidFinishLaunching() try {
    if (!launched_) return;
    if (app::hasFlag(args, "--permissions")) showPermissions();
    // The timer must not keep the host object alive.
    timer = std::make_unique<platform::RepeatingTimer>(1.0, [weak = weak_from_this()] {
        if (auto host = weak.lock()) host->tick();
    });
    tick();
} catch (...) {
    failStartup();
}
