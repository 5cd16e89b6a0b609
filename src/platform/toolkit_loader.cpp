// For the Linux host: the toolkit module, from the app folder's lib/.
#include <dlfcn.h>

#include "platform/files.h"
#include "platform/resources.h"
#include "platform/toolkit.h"

namespace platform {
namespace {

Toolkit* load() {
    const std::string exe = executablePath();
    const auto slash = exe.find_last_of('/');
    if (slash == std::string::npos) return nullptr;
    const std::string module = joinPath(exe.substr(0, slash), "../lib/quorva-qt.so");
    void* handle = ::dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    auto* entry = reinterpret_cast<Toolkit* (*)()>(::dlsym(handle, "quorvaToolkit"));
    return entry ? entry() : nullptr;
}

}  // namespace

Toolkit* toolkit() {
    static Toolkit* loaded = load();
    return loaded;
}

}  // namespace platform
