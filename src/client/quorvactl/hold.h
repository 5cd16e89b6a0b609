#pragma once

#include <string>

#include "quorvactl/command_line.h"

namespace quorvactl {

// Exit statuses of hold's own failures, as env(1) and its kin use them.
inline constexpr int kHoldFailed = 125;
inline constexpr int kCannotRun = 126;
inline constexpr int kNotFound = 127;

// Runs line.program as a client of the host of `home`; returns (or dies
// with) the program's status.
int hold(const CommandLine& line, const std::string& home);

}  // namespace quorvactl
