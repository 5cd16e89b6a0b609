// Stands in for Apple's <sys/stat.h> on Linux, for the syntax check only:
// glibc's, with Darwin's names for the time members of struct stat (each a
// struct timespec, as glibc's are) and for the seconds macros over them.
// glibc's own names are poisoned: Darwin has no st_mtim.
#pragma once

#include_next <sys/stat.h>

#define st_atimespec st_atim
#define st_mtimespec st_mtim
#define st_ctimespec st_ctim
#undef st_atime
#undef st_mtime
#undef st_ctime
#define st_atime st_atimespec.tv_sec
#define st_mtime st_mtimespec.tv_sec
#define st_ctime st_ctimespec.tv_sec
#pragma GCC poison st_atim st_mtim st_ctim
