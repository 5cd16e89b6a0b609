#pragma once

namespace platform {

// The bundle identifier the host is registered under: handed to the driver
// and reported in status.json. A build-time constant, never read at run time.
inline constexpr char HostBundleIdentifier[] = QUORVA_BUNDLE_ID;

}  // namespace platform
