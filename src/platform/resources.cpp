#include "platform/resources.h"

#include <sys/stat.h>

#include "platform/files.h"
#include "platform/toolkit.h"

namespace platform {

std::string resourceFolder() {
    // The real executable's folder: links and the working folder play no
    // part, so the app folder can be moved anywhere. Needs no toolkit: the
    // driver is launched before the toolkit starts.
    const std::string exe = executablePath();
    const auto slash = exe.find_last_of('/');
    if (slash == std::string::npos) return {};
    const std::string bin = exe.substr(0, slash);
    const auto up = bin.find_last_of('/');
    return joinPath(up == std::string::npos ? "." : bin.substr(0, up), "Resources");
}

std::optional<std::string> resourcePath(const std::string& name, const std::string& extension) {
    std::string path = joinPath(resourceFolder(), name + "." + extension);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    return path;
}

bool registerFontForProcess(const std::string& path) {
    Toolkit* gui = toolkit();
    return gui && gui->registerFont(path);
}

bool fontFamilyAvailable(const std::string& family) {
    Toolkit* gui = toolkit();
    return gui && gui->hasFontFamily(family);
}

}  // namespace platform
