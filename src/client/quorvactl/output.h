#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What quorvactl prints, and how it fails to: as coreutils and systemctl do,
// output that cannot be written (a full disk, a closed stream) is an error.
namespace quorvactl {

// Makes descriptors 0 to 2 valid before anything is opened, so that no file
// the tool opens lands on one of them. One that was closed is opened on
// /dev/null the wrong way round (standard output for reading), so that
// writing to it still fails as writing to a closed stream does.
void guardStandardStreams();

// Writes `text` to standard output at once; false when it could not be,
// after which nothing more is written. The first failure is remembered.
bool out(std::string_view text);

// errno of the first failed write to standard output, 0 if none failed.
int writeError();

// "<who>: <cause>" as one line on standard error, control characters escaped.
void complain(const std::string& who, const std::string& cause);

// A line from a file as a terminal can show it: no control characters
// (a log may hold anything), not too long.
std::string printable(std::string line);

// "2026-01-02 10:00:01 (3 min ago)" for seconds since the epoch.
std::string since(std::int64_t epoch);

}  // namespace quorvactl
