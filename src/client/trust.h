#pragma once

#include <sys/stat.h>

#include <string>

#include "platform/ownership.h"

// What a client may believe in a runtime folder: the host's own rule
// (platform/ownership.h), with what to do about an entry that breaks it.
namespace quorva::detail {

using platform::judgeTrust;
using platform::Trust;

// The entries a client reads; each has its own remedy.
enum class Entry { RuntimeFolder, StatusFile, Socket };

// Why the entry at `path`, as `st` describes it, must not be trusted, with
// what to do about it; empty when it may be. A socket's mode says who may
// connect to it, not who made it, so only its owner is judged. Given the
// folder it lies in, write bits of those who cannot pass that folder count
// for nothing: they cannot reach the entry (the host writes status.json
// under its umask, inside a folder of mode 0700).
std::string distrust(Entry entry, const std::string& path, const struct stat& st,
                     const struct stat* folder = nullptr);

// The same for the runtime folder at `path`; empty when it is not there.
std::string distrustFolder(const std::string& path);

}  // namespace quorva::detail
