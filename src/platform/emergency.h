#pragma once

// The last resort when the host cannot run its shutdown: a fatal signal (a
// crash, or SIGUSR1, SIGQUIT and the like sent from outside) or a main
// thread stuck where a quit cannot reach it. Only async-signal-safe calls
// happen here. The driver is not signalled from here: the driver's guard
// sends it its one SIGTERM once the host is gone.
namespace platform::emergency {

// The locked runtime folder's descriptor, once held, and the name of the
// driver's socket in it (a string that lives as long as the process); -1
// forgets it. The socket entry is removed relative to it, never through a path.
void setRuntimeFolder(int fd, const char* socketName);

// Removes the socket from the held runtime folder (if any), then ends
// the process at once with `status`.
[[noreturn]] void end(int status);

// From now on every signal whose default action ends the process, but for
// the quit signals (SIGTERM, SIGINT, SIGHUP: the normal quit), SIGALRM (the
// quit's own deadline) and SIGPIPE (ignored: a write to a closed pipe fails
// instead), first removes the socket from the held runtime folder, then
// ends the process as that signal would have: the same status, a core dump
// where one is made. A signal the host was started with ignored stays so.
void catchFatalSignals();

// The same, from another handler that found its signal to be fatal.
void onFatalSignal(int sig);

}  // namespace platform::emergency
