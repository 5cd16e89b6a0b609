// Stands in for Apple's <sys/event.h> (kqueue) on Linux, for the syntax check
// only: struct kevent, EV_SET, the filters, flags and process notes, and the
// two calls, as macOS's SDK declares them.
#pragma once

#include <stdint.h>
#include <time.h>

#pragma pack(4)
struct kevent {
    uintptr_t ident;  // what the event is about: a descriptor, a pid, a signal
    int16_t filter;
    uint16_t flags;
    uint32_t fflags;  // filter-specific flags
    intptr_t data;    // filter-specific data
    void* udata;      // passed back unchanged
};
#pragma pack()

#define EV_SET(kevp, a, b, c, d, e, f) \
    do {                               \
        struct kevent* kev_ = (kevp);  \
        kev_->ident = (a);             \
        kev_->filter = (b);            \
        kev_->flags = (c);             \
        kev_->fflags = (d);            \
        kev_->data = (e);              \
        kev_->udata = (f);             \
    } while (0)

#define EVFILT_READ (-1)
#define EVFILT_WRITE (-2)
#define EVFILT_VNODE (-4)
#define EVFILT_PROC (-5)
#define EVFILT_SIGNAL (-6)
#define EVFILT_TIMER (-7)
#define EVFILT_USER (-10)

#define EV_ADD 0x0001
#define EV_DELETE 0x0002
#define EV_ENABLE 0x0004
#define EV_DISABLE 0x0008
#define EV_ONESHOT 0x0010
#define EV_CLEAR 0x0020
#define EV_RECEIPT 0x0040
#define EV_DISPATCH 0x0080
#define EV_EOF 0x8000
#define EV_ERROR 0x4000

// EVFILT_PROC
#define NOTE_EXIT 0x80000000
#define NOTE_FORK 0x40000000
#define NOTE_EXEC 0x20000000
#define NOTE_SIGNAL 0x08000000
#define NOTE_EXITSTATUS 0x04000000

#ifdef __cplusplus
extern "C" {
#endif
int kqueue(void);
int kevent(int kq, const struct kevent* changelist, int nchanges, struct kevent* eventlist,
           int nevents, const struct timespec* timeout);
#ifdef __cplusplus
}
#endif
