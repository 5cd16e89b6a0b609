#include "supervision/clients.h"

#include "platform/files.h"
#include "platform/process_info.h"
#include "supervision/registration.h"

namespace supervision {

bool scanClients(const std::string& clientsFolder) {
    // Opened as itself: a link in its place (say, to a folder of the user's
    // own files) is no clients folder, and nothing is removed through it.
    const auto folder = platform::Folder::open(clientsFolder);
    if (!folder) return false;
    const auto names = folder->names();
    if (!names) return false;
    bool live = false;
    // No early exit: every dead entry goes in this same pass.
    for (const std::string& name : *names) {
        const auto pid = registrationNumber(name);
        if (pid && platform::canSignal(*pid)) {
            live = true;
        } else {
            folder->remove(name);
        }
    }
    return live;
}

}  // namespace supervision
