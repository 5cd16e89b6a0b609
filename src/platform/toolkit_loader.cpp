// For the Linux host: the toolkit module, from the app folder's lib/.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <string>

#include "platform/elf_file.h"
#include "platform/files.h"
#include "platform/resources.h"
#include "platform/toolkit.h"

namespace platform {
namespace {

std::string libFolder() {
    const std::string exe = executablePath();
    const auto slash = exe.find_last_of('/');
    return slash == std::string::npos ? std::string() : joinPath(exe.substr(0, slash), "../lib");
}

// The module as an open regular file, checked whole. Never a link, and never
// opened when it is anything but a regular file: a FIFO there would block the
// loader for ever, a device could do anything on open.
FileHandle openModule() {
    const std::string folder = libFolder();
    const std::string path = joinPath(folder, "quorva-qt.so");
    struct stat seen {};
    if (folder.empty() || ::lstat(path.c_str(), &seen) != 0 || !S_ISREG(seen.st_mode)) return {};
    FileHandle module(
        ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    if (!module.valid() || ::fstat(module.fd(), &opened) != 0 || opened.st_dev != seen.st_dev ||
        opened.st_ino != seen.st_ino || !isCompleteSharedObject(module.fd()))
        return {};
    return module;
}

}  // namespace

bool toolkitPresent() {
    return openModule().valid();
}

// The loader is given the very file that was checked, through its open
// descriptor: whatever stands at the path by now plays no part. The
// libraries it needs (Qt's, on LD_LIBRARY_PATH perhaps) are checked too.
Toolkit* loadToolkit() {
    const FileHandle module = openModule();
    if (!module.valid() || !librariesLoadable(module.fd(), libFolder())) return nullptr;
    const std::string self = "/proc/self/fd/" + std::to_string(module.fd());
    void* handle = ::dlopen(self.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return nullptr;
    auto* entry = reinterpret_cast<Toolkit* (*)()>(::dlsym(handle, "quorvaToolkit"));
    return entry ? entry() : nullptr;
}

}  // namespace platform
