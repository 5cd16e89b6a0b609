#include "supervision/clients.h"

#include "contract/registration.h"
#include "platform/process_info.h"

namespace supervision {

ClientScan scanClients(const platform::Folder& clients, const platform::Deadline& deadline) {
    ClientScan scan;
    // No early exit once a live entry is seen: every dead entry goes in this
    // same pass, time allowing.
    const auto listing = clients.forEachName([&](const std::string& name) {
        if (deadline.passed()) return false;
        const auto pid = contract::registrationNumber(name);
        if (pid && platform::canSignal(*pid)) {
            scan.live = true;
            return true;
        }
        return clients.remove(name, deadline) != platform::Removal::Unfinished;
    });
    scan.finished = listing != platform::Folder::Listing::Stopped;
    return scan;
}

}  // namespace supervision
