#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace quorvactl {

// One quorvactl invocation, as typed.
struct CommandLine {
    std::string command;  // "status", "start", ...; empty for the bare tool
    std::optional<std::string> home;
    std::optional<std::string> wait;  // "ready" or "running"
    double timeoutSeconds = 10;
    long lines = 10;  // logs -n; kAllLines for "all"
    bool follow = false;
    bool json = false;
    bool quiet = false;
    bool english = false;
    bool permissions = false;
    bool help = false;
    bool version = false;
    std::vector<std::string> program;  // hold's COMMAND and its arguments
    std::string error;                 // set when the line makes no sense; one line
};

inline constexpr long kAllLines = -1;

// Reads the arguments after the program name with getopt_long, as getopt
// users expect: "--opt VALUE", "--opt=VALUE", unambiguous abbreviations of
// long options, short options bundled ("-fn5") and their values attached
// ("-n5"), "--" ending the options. Options may come before the command too;
// each command takes only its own. hold's COMMAND starts at its first
// argument that is not an option. Numbers are plain decimals ("5", "0.5"
// seconds; "20" lines or "all").
CommandLine parseCommandLine(const std::vector<std::string>& args);

std::chrono::milliseconds timeoutOf(const CommandLine& line);

// The usage text of `command` (the tool's own for an empty one).
std::string usage(const std::string& command);

}  // namespace quorvactl
