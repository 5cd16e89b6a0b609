#pragma once

#include <sys/stat.h>
#include <sys/types.h>

// Who may be believed about a runtime folder and what is in it. As ssh with
// its own files: only what the user owns and nobody else can write, since
// anyone who can write there can forge a status, put their own socket in
// place or plant a link for the host to write through. Host and clients judge
// by this one rule.
namespace platform {

enum class Trust { Trusted, ForeignOwner, WritableByGroup, WritableByOthers };

// The rule on plain facts. A group-writable entry is trusted when its group
// is private to the owner (`privateGroup`), as with Debian's user groups.
Trust judgeTrust(uid_t owner, mode_t mode, uid_t me, bool privateGroup);

// The group is named after the owner, is the owner's primary group and lists
// nobody else: Debian's user private group.
bool isPrivateGroup(gid_t gid, uid_t owner);

// judgeTrust for what `st` describes, against this process's effective user.
Trust trustOf(const struct stat& st);

}  // namespace platform
