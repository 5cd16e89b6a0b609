// Stands in for Apple's <sys/socket.h> on Linux, for the syntax check only:
// glibc's, with Darwin's SO_NOSIGPIPE (a socket that never raises SIGPIPE).
// Darwin has no SOCK_CLOEXEC or SOCK_NONBLOCK type flags and no accept4:
// they are poisoned, so macOS code that uses them fails the check.
#pragma once

#include_next <sys/socket.h>

#define SO_NOSIGPIPE 0x1022
#undef SOCK_CLOEXEC
#undef SOCK_NONBLOCK
#pragma GCC poison SOCK_CLOEXEC SOCK_NONBLOCK accept4
