#pragma once

#include <sys/types.h>

#include <string>

#include "platform/files.h"

// Inside the platform layer (and the guard program) only: the link between
// the host and the guard that watches its driver, one file per system. The
// link is a connected pair of sockets; only the host holds its end
// (close-on-exec, never inherited), so the guard sees the link close when the
// host ends, however it ends. If the host has not told it to stand down by
// then, the guard sends the driver the one SIGTERM.
namespace platform::guard {

// The guard program's descriptor for its end of the link.
inline constexpr int kLinkFd = 3;
// Guard to host: the driver is watched. Host to guard: the host stops the
// driver itself, send nothing.
inline constexpr char kArmed = 'A';
inline constexpr char kStandDown = 'S';

// fds[0] for the host, fds[1] for the guard; both close-on-exec, and a write
// to a closed link fails instead of raising SIGPIPE.
bool makeLink(int fds[2]);

// Linux: sends descriptor `fd` over the link with one byte (async-signal-
// safe, for a child between vfork and exec).
bool sendDescriptor(int link, int fd);

// Whether a child hands itself to its guard before its exec (Linux: through
// the link given as SpawnRequest::guardLinkFd), so that it never runs
// unwatched; elsewhere handOver() follows the spawn.
bool childHandsItselfOver();

// Starts `program` as a guard, in a session of its own (no signal meant for
// the host's group or terminal reaches it), holding its end of a new link.
// Its pid, with `hostEnd` set; -1 when it cannot be started. Given a running
// `child` (see handOver), the link carries it before the guard exists, so a
// guard put in another's place never runs without it, however soon the host
// ends.
pid_t start(const std::string& program, FileHandle& hostEnd, pid_t child = -1);

// Hands the running `child`, which this process has not reaped (so its pid
// names no other process), to the guard at the other end of `hostEnd`.
bool handOver(int hostEnd, pid_t child);

// Waits, however long it takes, until the guard says it watches the child:
// false when the guard ended without saying so, or a quit signal came.
bool awaitArmed(int hostEnd);

// The host is about to stop the driver itself: the guard is to send nothing.
void standDown(int hostEnd);

}  // namespace platform::guard
