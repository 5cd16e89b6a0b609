#pragma once

namespace platform {

// Whether the open file `fd` is a whole ELF shared object of this program's
// kind (class and byte order): its headers and every segment the loader maps
// lie within the file. The loader itself maps a truncated file all the same,
// and the process dies (SIGBUS) when it touches a page past the end.
bool isCompleteSharedObject(int fd);

}  // namespace platform
