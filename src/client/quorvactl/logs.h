#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "quorvactl/command_line.h"

namespace quorvactl {

// The last `lines` lines among the last `window` bytes of the log at
// `path`, each without its line end; `error` says why there are none (no
// file, not a regular file: a FIFO or a device is never read).
std::vector<std::string> lastLines(const std::string& path, long lines, off_t window,
                                   std::string& error);

// quorvactl logs: the end of <home>/desktop/desktop.log, then with
// line.follow what is added, until interrupted.
int logs(const CommandLine& line, const std::string& home);

}  // namespace quorvactl
