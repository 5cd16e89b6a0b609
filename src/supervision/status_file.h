#pragma once

#include <string>

#include "contract/status.h"
#include "platform/runtime_folder.h"

namespace supervision {

// What status.json tells client programs; contract::serialise writes it.
using HostStatus = contract::StatusFields;

HostStatus makeHostStatus(bool accessibility, bool screenRecording, int hostPid);

// Replaces status.json in `runtime` atomically; a failure leaves the old
// file whole. What stands in the way is removed by `deadline`.
platform::Done writeStatusFile(const platform::RuntimeFolder& runtime, const HostStatus& status,
                               const platform::Deadline& deadline = platform::Deadline::never());

}  // namespace supervision
