#pragma once

#include <string>
#include <vector>

// quorvactl doctor: what the host needs, one line each.
namespace quorvactl {

struct Check {
    enum class Mark { Ok, Problem, Skipped } mark;
    std::string what;  // "host", "XTEST", ...
    std::string text;  // the finding; for a problem, also what to do
};

// The display's lines, for the host `hostPid` (0: none runs), as the host
// sees its display: with its DISPLAY, XAUTHORITY and session variables where
// they can be read. One file per system (display_linux.cpp, _macos.cpp).
std::vector<Check> displayChecks(int hostPid);

// Runs every check for `home`, prints them and the end of the log; 0 when
// all is well, 1 otherwise.
int doctor(const std::string& home);

}  // namespace quorvactl
