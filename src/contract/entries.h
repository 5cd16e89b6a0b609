#pragma once

// What the host and its clients agree on, and nothing above the platform
// layer: where the home is, the names in its runtime folder, the status file
// and the registration names. Both sides take these from here, never from
// each other.
namespace contract {

// In the user's home, when no --home is given.
inline constexpr char kDefaultHomeName[] = ".quorva";
// In the home: everything the host serves.
inline constexpr char kRuntimeFolderName[] = "desktop";

// In the runtime folder.
inline constexpr char kDriverSocket[] = "driver.sock";
inline constexpr char kLog[] = "desktop.log";
inline constexpr char kStatusFile[] = "status.json";
inline constexpr char kClients[] = "clients";                 // one registration per client process
inline constexpr char kWindowRequest[] = "show-permissions";  // taken at the host's next tick

// In the host's resource folder (platform/app_layout.h): the driver it starts,
// whose absence a client names when a host it started ends at once.
inline constexpr char kDriverProgram[] = "vov-driver";

}  // namespace contract
