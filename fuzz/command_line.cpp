// quorvactl's command line, NUL between arguments: any line is understood or
// refused in one line, and reading it twice gives the same (getopt_long
// keeps its state between calls).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "quorvactl/command_line.h"

namespace {

bool sameLine(const quorvactl::CommandLine& a, const quorvactl::CommandLine& b) {
    return a.command == b.command && a.home == b.home && a.wait == b.wait &&
           a.timeoutSeconds == b.timeoutSeconds && a.lines == b.lines && a.follow == b.follow &&
           a.json == b.json && a.quiet == b.quiet && a.english == b.english &&
           a.permissions == b.permissions && a.help == b.help && a.version == b.version &&
           a.program == b.program && a.error == b.error;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> args;
    if (size) args.emplace_back();
    for (std::size_t i = 0; i < size && args.size() < 64; ++i)
        if (data[i])
            args.back().push_back(static_cast<char>(data[i]));
        else
            args.emplace_back();
    const auto line = quorvactl::parseCommandLine(args);
    if (!sameLine(line, quorvactl::parseCommandLine(args))) __builtin_trap();
    if (!line.error.empty()) {
        for (const char c : line.error)
            if (static_cast<unsigned char>(c) < 0x20) __builtin_trap();  // one line
        return 0;
    }
    if (line.version || (line.help && line.command.empty())) return 0;
    // A command it knows, with values in range.
    if (!quorvactl::usage(line.command).starts_with("usage: quorvactl " + line.command + " "))
        __builtin_trap();
    if (line.timeoutSeconds < 0 || line.timeoutSeconds > 1e6 || line.lines < quorvactl::kAllLines)
        __builtin_trap();
    if (line.wait && *line.wait != "ready" && *line.wait != "running") __builtin_trap();
    if (!line.help && (line.command == "hold") == line.program.empty()) __builtin_trap();
    return 0;
}
