#include "supervision/clients.h"

#include "platform/files.h"
#include "platform/process_info.h"
#include "supervision/registration.h"

namespace supervision {

bool scanClients(const std::string& clientsFolder) {
    const auto names = platform::listDirectory(clientsFolder);
    if (!names) return false;
    bool live = false;
    // No early exit: every dead entry goes in this same pass.
    for (const std::string& name : *names) {
        const auto pid = registrationNumber(name);
        if (pid && platform::canSignal(*pid)) {
            live = true;
        } else {
            platform::removeItem(platform::joinPath(clientsFolder, name));
        }
    }
    return live;
}

}  // namespace supervision
