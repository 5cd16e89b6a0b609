#include "supervision/status_file.h"

#include <cerrno>

#include "contract/entries.h"
#include "platform/host_identity.h"
#include "platform/runtime_folder.h"

namespace supervision {

HostStatus makeHostStatus(bool accessibility, bool screenRecording, int hostPid) {
    return HostStatus{
        .accessibility = accessibility,
        .screenRecording = screenRecording,
        .status =
            accessibility && screenRecording ? contract::kReady : contract::kPermissionRequired,
        .owner = contract::kOwner,
        .bundleId = platform::HostBundleIdentifier,
        .hostPid = hostPid,
    };
}

platform::Done writeStatusFile(const platform::RuntimeFolder& runtime, const HostStatus& status,
                               const platform::Deadline& deadline) {
    const std::string bytes = contract::serialise(status);
    if (bytes.empty())
        return platform::Error::of(ENOMEM, platform::Step::Write, contract::kStatusFile);
    return runtime.writeAtomically(contract::kStatusFile, bytes, deadline);
}

}  // namespace supervision
