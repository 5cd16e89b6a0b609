// The checks start-up makes of the toolkit module and the libraries it needs
// before the loader may map them: whatever the file holds, an answer, never
// a crash or a hang. A module is loadable only when it is whole.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>

#include "platform/elf_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = ::memfd_create("module", MFD_CLOEXEC);
    if (fd < 0) return 0;
    if (::write(fd, data, size) == static_cast<ssize_t>(size)) {
        const bool whole = platform::isCompleteSharedObject(fd);
        // $ORIGIN stands for a folder that is not there: nothing real is named by it.
        if (platform::librariesLoadable(fd, "/nonexistent/quorva-fuzz") && !whole) __builtin_trap();
    }
    ::close(fd);
    return 0;
}
