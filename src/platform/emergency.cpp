#include "platform/emergency.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>

namespace platform::emergency {
namespace {
std::atomic<int> runtimeFd{-1};
}

void setRuntimeFolder(int fd) {
    runtimeFd.store(fd);
}

void end(int status) {
    if (const int fd = runtimeFd.load(); fd >= 0) ::unlinkat(fd, "driver.sock", 0);
    ::_exit(status);
}

}  // namespace platform::emergency
