#include "platform/app_layout.h"

#include "platform/files.h"

namespace platform {

std::string resourceFolderOf(const std::string& programFolder) {
    const auto up = programFolder.find_last_of('/');
    return joinPath(up == 0 ? "/" : programFolder.substr(0, up), "Resources");
}

}  // namespace platform
