#include "platform/ownership.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstring>
#include <vector>

namespace platform {

Trust judgeTrust(uid_t owner, mode_t mode, uid_t me, bool privateGroup) {
    if (owner != me) return Trust::ForeignOwner;
    if (mode & S_IWOTH) return Trust::WritableByOthers;
    if ((mode & S_IWGRP) && !privateGroup) return Trust::WritableByGroup;
    return Trust::Trusted;
}

bool isPrivateGroup(gid_t gid, uid_t owner) {
    std::vector<char> pwBuf(16384), grBuf(65536);
    passwd pw{}, *p = nullptr;
    group gr{}, *g = nullptr;
    if (::getpwuid_r(owner, &pw, pwBuf.data(), pwBuf.size(), &p) != 0 || !p ||
        ::getgrgid_r(gid, &gr, grBuf.data(), grBuf.size(), &g) != 0 || !g)
        return false;
    if (p->pw_gid != gid || std::strcmp(g->gr_name, p->pw_name) != 0) return false;
    for (char** member = g->gr_mem; *member; ++member)
        if (std::strcmp(*member, p->pw_name) != 0) return false;
    return true;
}

// The group databases can be slow: looked up only when the mode asks.
Trust trustOf(const struct stat& st) {
    const bool privateGroup = (st.st_mode & S_IWGRP) && isPrivateGroup(st.st_gid, st.st_uid);
    return judgeTrust(st.st_uid, st.st_mode, ::geteuid(), privateGroup);
}

}  // namespace platform
