#pragma once

#include <string>
#include <string_view>

namespace contract {

inline constexpr char kReady[] = "ready";
inline constexpr char kPermissionRequired[] = "permission_required";
inline constexpr char kOwner[] = "Quorva";

// What status.json says, member by member.
struct StatusFields {
    bool accessibility = false;
    bool screenRecording = false;
    std::string status;  // kReady or kPermissionRequired
    std::string owner;
    std::string bundleId;
    int hostPid = 0;
};

// The one writer: compact JSON with exactly the six members.
std::string serialise(const StatusFields& status);

// The one reader: fills the six members of `status` from `text`; empty when
// they are all there with their types, else the one cause. Other members are
// ignored. Never throws, whatever the text.
std::string parseStatus(std::string_view text, StatusFields& status);

}  // namespace contract
