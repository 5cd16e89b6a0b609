#pragma once

// The last resort when the host cannot run its shutdown: a crash (SIGSEGV,
// SIGBUS, ...) or a main thread stuck where a quit cannot reach it. Only
// async-signal-safe calls happen here. The driver is not signalled from
// here: the driver's guard sends it its one SIGTERM once the host is gone.
namespace platform::emergency {

// The locked runtime folder's descriptor, once held; -1 forgets it. The
// socket entry is removed relative to it, never through a path.
void setRuntimeFolder(int fd);

// Removes "driver.sock" from the held runtime folder (if any), then ends
// the process at once with `status`.
[[noreturn]] void end(int status);

// From now on a crash (SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT) first
// removes "driver.sock" from the held runtime folder, then goes on as the
// crash it is: the default action, a core dump where one is made.
void catchCrashes();

}  // namespace platform::emergency
