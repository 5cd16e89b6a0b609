#include "app/quorva_desktop.h"
#include "platform/files.h"
#include "platform/process_info.h"
#include "supervision/clients.h"
#include "supervision/idle.h"
#include "supervision/status_file.h"

// One supervision step, once a second. Every path is derived afresh and every
// failure is dropped: the step always runs to its end. Without a runtime
// folder (the working folder of a relative home is gone) only the idle rule
// is left to run.
void QuorvaDesktop::tick() {
    bool live = false;
    try {
        const bool accessibility = system_.accessibilityTrusted();
        const bool screenRecording = system_.screenCaptureAllowed();
        publishStatus(accessibility, screenRecording);

        if (const auto runtime = this->runtime()) {
            // A client asks for the window by creating this entry; shown even
            // when it cannot be removed.
            const std::string trigger = platform::joinPath(*runtime, "show-permissions");
            if (platform::exists(trigger)) {
                platform::removeItem(trigger);
                showPermissions();
            }
            live = supervision::scanClients(platform::joinPath(*runtime, "clients"));
        }
    } catch (...) {
        // Out of memory: this step is lost, the next one tries again.
    }
    const bool attended = live || (window && window->isVisible());
    const auto decision = supervision::decideIdle(attended, system_.now(), idleSince);
    idleSince = decision.idleSince;
    if (decision.quit) system_.terminate(0);
}

void QuorvaDesktop::publishStatus(bool accessibility, bool screenRecording) {
    const auto path = runtimeEntry("status.json");
    if (!path) return;
    const auto status =
        supervision::makeHostStatus(accessibility, screenRecording, platform::processIdentifier());
    supervision::writeStatusFile(*path, status);
}
