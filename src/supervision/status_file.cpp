#include "supervision/status_file.h"

#include <nlohmann/json.hpp>

#include "app/host_identity.h"
#include "platform/runtime_folder.h"

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
    // nlohmann::json keeps members sorted by key, the order hosts have always
    // written (readers go by key anyway); dumped compact with UTF-8 as it is.
    const nlohmann::json object = {
        {"accessibility", s.accessibility},
        {"bundle_id", s.bundleId},
        {"host_pid", s.hostPid},
        {"owner", s.owner},
        {"screen_recording", s.screenRecording},
        {"status", s.status},
    };
    // Bytes that are not UTF-8 (never in these values) become U+FFFD rather than throw.
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool writeStatusFile(const platform::RuntimeFolder& runtime, const HostStatus& status,
                     const platform::Deadline& deadline) {
    const std::string bytes = serialise(status);
    if (bytes.empty()) return false;
    return runtime.writeAtomically("status.json", bytes, deadline);
}

}  // namespace supervision
