#pragma once

#include <sys/stat.h>

#include <string>

// What a client may believe in a runtime folder. As ssh with its own files:
// only what the calling user owns and nobody else can write, since anyone
// who can write there can forge a status or put their own socket in place.
namespace quorva::detail {

enum class Trust { Trusted, ForeignOwner, WritableByGroup, WritableByOthers };

// The rule on plain facts. A group-writable entry is trusted when its group
// is private to the owner (`privateGroup`), as with Debian's user groups.
Trust judgeTrust(uid_t owner, mode_t mode, uid_t me, bool privateGroup);

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
