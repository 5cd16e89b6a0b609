// Stands in for Apple's <sys/proc_info.h> on Linux, for the syntax check only:
// what proc_pidinfo and proc_pidpath take, as macOS's SDK declares it.
// MAXPATHLEN is 1024 and MAXCOMLEN 16 on macOS.
#pragma once

#include <stdint.h>
#include <sys/types.h>

struct proc_bsdinfo {
    uint32_t pbi_flags;
    uint32_t pbi_status;
    uint32_t pbi_xstatus;
    uint32_t pbi_pid;
    uint32_t pbi_ppid;
    uid_t pbi_uid;
    gid_t pbi_gid;
    uid_t pbi_ruid;
    gid_t pbi_rgid;
    uid_t pbi_svuid;
    gid_t pbi_svgid;
    uint32_t rfu_1;
    char pbi_comm[16];
    char pbi_name[2 * 16];
    uint32_t pbi_nfiles;
    uint32_t pbi_pgid;
    uint32_t pbi_pjobc;
    uint32_t e_tdev;
    uint32_t e_tpgid;
    int32_t pbi_nice;
    uint64_t pbi_start_tvsec;  // when the process started
    uint64_t pbi_start_tvusec;
};

#define PROC_PPID_ONLY 6  // proc_listpids: the children of a pid
#define PROC_PIDTBSDINFO 3
#define PROC_PIDTBSDINFO_SIZE (sizeof(struct proc_bsdinfo))
#define PROC_PIDPATHINFO_SIZE (1024)
#define PROC_PIDPATHINFO_MAXSIZE (4 * 1024)
