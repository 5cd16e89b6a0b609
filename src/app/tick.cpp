#include "app/quorva_desktop.h"
#include "contract/entries.h"
#include "platform/process_info.h"
#include "platform/window.h"
#include "supervision/clients.h"
#include "supervision/idle.h"
#include "supervision/status_file.h"

// One supervision step, once a second. Every entry is reached through the
// held runtime folder and every failure is dropped: the step always runs to
// its end, and its removal work within a fixed budget.
void QuorvaDesktop::tick() {
    if (homeLost()) return system_.terminate(0);
    bool attended = false;
    try {
        const bool accessibility = system_.accessibilityTrusted();
        const bool screenRecording = system_.screenCaptureAllowed();
        // One budget for the step's removal work: leftovers in the status
        // file's way, the trigger, junk in clients/.
        auto deadline = platform::Deadline::after(supervision::kTickWorkBudget);
        publishStatus(accessibility, screenRecording, deadline);

        if (runtimeFolder_) {
            // A client asks for the window by creating this entry; shown even
            // when it cannot be removed. While the display does not answer,
            // the request waits for a tick at which it does.
            if (runtimeFolder_->exists(contract::kWindowRequest) && platform::windowsAnswerNow()) {
                runtimeFolder_->remove(contract::kWindowRequest, deadline);
                // The window's first showing loads the toolkit: not removal
                // work, so not taken from the budget.
                const auto shown = std::chrono::steady_clock::now();
                showPermissions();
                deadline = deadline.later(std::chrono::steady_clock::now() - shown);
            }
            if (const auto clients = runtimeFolder_->openFolder(contract::kClients))
                attended = supervision::scanClients(*clients, deadline).attended();
        }
    } catch (...) {
        // Out of memory: this step is lost, the next one tries again.
    }
    attended = attended || (window && window->isVisible());
    const auto decision = supervision::decideIdle(attended, system_.now(), idleSince);
    idleSince = decision.idleSince;
    if (decision.quit) system_.terminate(0);
}

void QuorvaDesktop::publishStatus(bool accessibility, bool screenRecording,
                                  const platform::Deadline& deadline) {
    if (!runtimeFolder_) return;
    const auto status =
        supervision::makeHostStatus(accessibility, screenRecording, platform::processIdentifier());
    // A failed write is dropped: the next tick writes again.
    static_cast<void>(supervision::writeStatusFile(*runtimeFolder_, status, deadline));
}
