#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>

#include <string>
#include <vector>

// What differs between the systems on the client side: one small file each.
namespace quorva::detail {

// Whether `pid` is the live host serving `runtime`, decided without taking
// or testing the host's lock (a starting host must never lose it to us).
bool isHostOf(int pid, const std::string& runtime);

// Makes a spawned child inherit no descriptor beyond its standard streams.
void inheritOnlyStandardStreams(posix_spawn_file_actions_t* files, short* flags);

// The real folder of the running program's executable, or empty.
std::string programFolder();

// A file's modification time in nanoseconds.
std::int64_t modifiedNs(const struct stat& st);

// The terminal signals its whole foreground group: a signal it sent has
// reached a child in that group already.
bool sentByTerminal(const siginfo_t& info);

// Where this system puts the host beyond the portable candidates.
std::vector<std::string> systemHostCandidates();

}  // namespace quorva::detail
