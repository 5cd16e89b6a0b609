// Stands in for Apple's <spawn.h> (and the flags of <sys/spawn.h>) on Linux,
// for the syntax check only, in place of glibc's: Darwin's opaque types, the
// POSIX calls and the Darwin extensions the host uses, declared as macOS's SDK
// declares them. A glibc-only call (posix_spawn_file_actions_addclosefrom_np)
// is not here, so macOS code that uses one fails the check. (Apple's
// __restrict qualifiers expand to nothing in C++.)
#pragma once

#include <bits/types/sigset_t.h>
#include <sys/types.h>

typedef void* posix_spawnattr_t;
typedef void* posix_spawn_file_actions_t;

#define POSIX_SPAWN_RESETIDS 0x0001
#define POSIX_SPAWN_SETPGROUP 0x0002
#define POSIX_SPAWN_SETSIGDEF 0x0004
#define POSIX_SPAWN_SETSIGMASK 0x0008
#define POSIX_SPAWN_SETEXEC 0x0040
#define POSIX_SPAWN_START_SUSPENDED 0x0080
#define POSIX_SPAWN_SETSID 0x0400
#define POSIX_SPAWN_CLOEXEC_DEFAULT 0x4000

#ifdef __cplusplus
extern "C" {
#endif
int posix_spawn(pid_t* pid, const char* path, const posix_spawn_file_actions_t* file_actions,
                const posix_spawnattr_t* attrp, char* const argv[], char* const envp[]);
int posix_spawnp(pid_t* pid, const char* file, const posix_spawn_file_actions_t* file_actions,
                 const posix_spawnattr_t* attrp, char* const argv[], char* const envp[]);

int posix_spawn_file_actions_init(posix_spawn_file_actions_t* file_actions);
int posix_spawn_file_actions_destroy(posix_spawn_file_actions_t* file_actions);
int posix_spawn_file_actions_addclose(posix_spawn_file_actions_t* file_actions, int filedes);
int posix_spawn_file_actions_adddup2(posix_spawn_file_actions_t* file_actions, int filedes,
                                     int newfiledes);
int posix_spawn_file_actions_addopen(posix_spawn_file_actions_t* file_actions, int filedes,
                                     const char* path, int oflag, mode_t mode);
// Darwin: keeps `filedes` open in the child under POSIX_SPAWN_CLOEXEC_DEFAULT.
int posix_spawn_file_actions_addinherit_np(posix_spawn_file_actions_t* file_actions, int filedes);
int posix_spawn_file_actions_addchdir_np(posix_spawn_file_actions_t* file_actions,
                                         const char* path);

int posix_spawnattr_init(posix_spawnattr_t* attr);
int posix_spawnattr_destroy(posix_spawnattr_t* attr);
int posix_spawnattr_getflags(const posix_spawnattr_t* attr, short* flags);
int posix_spawnattr_setflags(posix_spawnattr_t* attr, short flags);
int posix_spawnattr_setpgroup(posix_spawnattr_t* attr, pid_t pgroup);
int posix_spawnattr_setsigdefault(posix_spawnattr_t* attr, const sigset_t* sigdefault);
int posix_spawnattr_setsigmask(posix_spawnattr_t* attr, const sigset_t* sigmask);
#ifdef __cplusplus
}
#endif
