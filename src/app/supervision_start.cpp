#include "app/options.h"
#include "app/quorva_desktop.h"

void QuorvaDesktop::startSupervision() {
    if (app::hasFlag(args, "--permissions")) showPermissions();
    // The timer must not keep the host object alive.
    timer = std::make_unique<platform::RepeatingTimer>(1.0, [weak = weak_from_this()] {
        if (auto host = weak.lock()) host->tick();
    });
    tick();
}
