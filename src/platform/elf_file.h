#pragma once

#include <string>

namespace platform {

// Whether the open file `fd` is a whole ELF shared object of this program's
// kind (class and byte order): its headers and every segment the loader maps
// lie within the file. The loader itself maps a truncated file all the same,
// and the process dies (SIGBUS) when it touches a page past the end.
bool isCompleteSharedObject(int fd);

// Whether loading the shared object open at `fd` (from `folder`) would open
// regular, whole files only: every library it needs, directly or not, looked
// for as the loader looks (run paths, LD_LIBRARY_PATH, the system's folders;
// its cache and hardware-capability subfolders aside), unless one of that
// name is loaded already. A FIFO there would block the loader for ever, a
// truncated library would crash the process. A library found nowhere makes
// the load fail harmlessly, and is not looked into.
bool librariesLoadable(int fd, const std::string& folder);

}  // namespace platform
