// A toolkit module that takes 300 ms to load and lacks the entry point: the
// host's start fails after its driver's launch, once the driver is up.
#include <unistd.h>

__attribute__((constructor)) static void loadSlowly() {
    ::usleep(300000);
}
