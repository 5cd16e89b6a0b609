#pragma once

#include <string>

#include "platform/runtime_folder.h"

namespace supervision {

// What status.json tells client programs.
struct HostStatus {
    bool accessibility = false;
    bool screenRecording = false;
    std::string status;  // "ready" or "permission_required"
    std::string owner;
    std::string bundleId;
    int hostPid = 0;
};

HostStatus makeHostStatus(bool accessibility, bool screenRecording, int hostPid);

// Compact JSON with exactly the six members.
std::string serialise(const HostStatus& status);

// Replaces "status.json" in `runtime` atomically; a failure leaves the old
// file whole. What stands in the way is removed by `deadline`.
bool writeStatusFile(const platform::RuntimeFolder& runtime, const HostStatus& status,
                     const platform::Deadline& deadline = platform::Deadline::never());

}  // namespace supervision
