// Stands in for Apple's <libproc.h> (with the one constant it takes from
// <sys/proc_info.h>) on Linux, for the syntax check only: declared as macOS's
// SDK declares them. MAXPATHLEN is 1024 on macOS.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#define PROC_PIDPATHINFO_MAXSIZE (4 * 1024)

#ifdef __cplusplus
extern "C" {
#endif
int proc_pidpath(int pid, void* buffer, uint32_t buffersize);
#ifdef __cplusplus
}
#endif
