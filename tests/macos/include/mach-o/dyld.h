// Stands in for Apple's <mach-o/dyld.h> on Linux, for the syntax check only:
// the one call the host uses, declared as macOS's SDK declares it.
#pragma once

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif
int _NSGetExecutablePath(char* buf, uint32_t* bufsize);
#ifdef __cplusplus
}
#endif
