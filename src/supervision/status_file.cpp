#include "supervision/status_file.h"

#include "app/host_identity.h"
#include "platform/json.h"

namespace supervision {

HostStatus makeHostStatus(bool accessibility, bool screenRecording, int hostPid) {
    return HostStatus{
        .accessibility = accessibility,
        .screenRecording = screenRecording,
        .status = accessibility && screenRecording ? "ready" : "permission_required",
        .owner = "Quorva",
        .bundleId = app::HostBundleIdentifier,
        .hostPid = hostPid,
    };
}

std::string serialise(const HostStatus& s) {
    // Sorted by key, the order earlier hosts wrote; readers go by key anyway.
    return platform::compactJsonObject({
        {"accessibility", s.accessibility},
        {"bundle_id", s.bundleId},
        {"host_pid", s.hostPid},
        {"owner", s.owner},
        {"screen_recording", s.screenRecording},
        {"status", s.status},
    });
}

bool writeStatusFile(const platform::RuntimeFolder& runtime, const HostStatus& status) {
    const std::string bytes = serialise(status);
    if (bytes.empty()) return false;
    return runtime.writeAtomically("status.json", bytes);
}

}  // namespace supervision
