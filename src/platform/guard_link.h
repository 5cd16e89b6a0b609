#pragma once

#include <sys/types.h>

// Inside the platform layer (and the guard program) only: the link between
// the host and the guard that is started with its driver, one file per
// system. The link is a connected pair of sockets; only the host holds its
// end (close-on-exec, never inherited), so the guard sees the link close
// when the host ends, however it ends. If the host has not told it to stand
// down by then, the guard sends the driver the one SIGTERM.
namespace platform::guard {

// The guard program's descriptor for its end of the link.
inline constexpr int kLinkFd = 3;
// Guard to host: the driver is watched. Host to guard: the host stops the
// driver itself, send nothing.
inline constexpr char kArmed = 'A';
inline constexpr char kStandDown = 'S';
// An armed guard answers within milliseconds; one that does not has failed.
inline constexpr int kArmTimeoutMs = 500;

// fds[0] for the host, fds[1] for the guard; both close-on-exec, and a write
// to a closed link fails instead of raising SIGPIPE.
bool makeLink(int fds[2]);

// Hands the spawned `child` to the guard (on Linux the child did that itself
// before its exec) and waits until the guard says it is armed.
bool handOver(int hostEnd, pid_t child);

// Waits (up to kArmTimeoutMs) for the guard to say it is armed.
bool awaitArmed(int hostEnd);

// The host is about to stop the driver itself: the guard is to send nothing.
void standDown(int hostEnd);

}  // namespace platform::guard
