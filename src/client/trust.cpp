#include "client/trust.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "client/causes.h"

namespace quorva::detail {
namespace {

std::string octal(mode_t mode) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(mode & 07777));
    return buf;
}

std::string ownerFix(Entry entry, const std::string& path) {
    switch (entry) {
        case Entry::RuntimeFolder:
            return "use a home folder of your own (--home)";
        case Entry::StatusFile:
            return "remove it (rm " + quoted(path) + ") and let your host write its own";
        case Entry::Socket:
            break;
    }
    return "remove it (rm " + quoted(path) + ") and restart your host (quorvactl restart)";
}

// The host writes status.json with its umask, so chmod alone would not last.
std::string modeFix(Entry entry, const std::string& path) {
    if (entry == Entry::StatusFile)
        return "the host writes it under its umask: restart the host with umask 022 "
               "(quorvactl restart)";
    return "chmod 700 " + quoted(path);
}

}  // namespace

std::string distrust(Entry entry, const std::string& path, const struct stat& st,
                     const struct stat* folder) {
    mode_t mode = entry == Entry::Socket ? st.st_mode & ~0777 : st.st_mode;
    if (folder && !(folder->st_mode & S_IXOTH)) mode &= ~S_IWOTH;
    if (folder && !(folder->st_mode & S_IXGRP)) mode &= ~S_IWGRP;
    // Looked up only when it matters: the group databases can be slow.
    const bool privateGroup = (mode & S_IWGRP) && platform::isPrivateGroup(st.st_gid, st.st_uid);
    switch (judgeTrust(st.st_uid, mode, ::geteuid(), privateGroup)) {
        case Trust::Trusted:
            return {};
        case Trust::ForeignOwner:
            return quoted(path) + " belongs to uid " + std::to_string(st.st_uid) +
                   ", not to you (uid " + std::to_string(::geteuid()) +
                   "), so it is not trusted: " + ownerFix(entry, path);
        case Trust::WritableByGroup:
            return quoted(path) + " can be written by its group (mode " + octal(st.st_mode) +
                   "), so it is not trusted: " + modeFix(entry, path);
        case Trust::WritableByOthers:
            break;
    }
    return quoted(path) + " can be written by others (mode " + octal(st.st_mode) +
           "), so it is not trusted: " + modeFix(entry, path);
}

std::string distrustFolder(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
    return distrust(Entry::RuntimeFolder, path, st);
}

}  // namespace quorva::detail
