#include "app/quorva_desktop.h"
#include "platform/files.h"
#include "platform/process_info.h"
#include "supervision/clients.h"
#include "supervision/idle.h"
#include "supervision/status_file.h"

// One supervision step, once a second. Every path is derived afresh and every
// failure is dropped: the step always runs to its end.
void QuorvaDesktop::tick() {
    const bool accessibility = system_.accessibilityTrusted();
    const bool screenRecording = system_.screenCaptureAllowed();
    publishStatus(accessibility, screenRecording);

    // A client asks for the window by creating this entry; shown even when
    // it cannot be removed.
    if (platform::exists(runtimeEntry("show-permissions"))) {
        platform::removeItem(runtimeEntry("show-permissions"));
        showPermissions();
    }

    const bool live = supervision::scanClients(runtimeEntry("clients"));
    const bool attended = live || (window && window->isVisible());
    const auto decision = supervision::decideIdle(attended, system_.now(), idleSince);
    idleSince = decision.idleSince;
    if (decision.quit) system_.terminate();
}

void QuorvaDesktop::publishStatus(bool accessibility, bool screenRecording) {
    const auto status =
        supervision::makeHostStatus(accessibility, screenRecording, platform::processIdentifier());
    supervision::writeStatusFile(runtimeEntry("status.json"), status);
}
