#pragma once

#include <sys/types.h>

#include <string>

// Turning a failure into one line that names its cause.
namespace quorva::detail {

// Why `folder` cannot be there or be written in: something that is not a
// folder in its way, or the nearest existing folder not writable. Empty when
// nothing is wrong that can be seen from here.
std::string folderProblem(const std::string& folder);

// Why a host that was started for `home` with the binary `host` ended with
// the wait status `status` before it took the home.
std::string whyHostFailed(const std::string& home, const std::string& host, int status);

// "ended with exit status 1", "was ended by signal 9 (Killed)".
std::string howItEnded(int status);

// The last line `log` got after its first `from` bytes, made printable and
// short, quoted; empty when it got none.
std::string lastLogLine(const std::string& log, off_t from);

// Seconds for a message: "10 s", "0.25 s".
std::string seconds(double s);

}  // namespace quorva::detail
