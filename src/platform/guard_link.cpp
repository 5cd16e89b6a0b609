#include "platform/guard_link.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "platform/application.h"
#include "platform/spawn.h"

namespace platform::guard {

pid_t start(const std::string& program, FileHandle& hostEnd, pid_t child) {
    int link[2];
    if (!makeLink(link)) return -1;
    FileHandle host(link[0]);
    const FileHandle guard(link[1]);
    if (child > 0 && !handOver(host.fd(), child)) return -1;
    const FileHandle null(::open("/dev/null", O_RDWR | O_CLOEXEC));
    if (!null.valid()) return -1;
    const pid_t pid = spawnChild({.argv = {program},
                                  .env = {},  // it needs none
                                  .stdinFd = null.fd(),
                                  .stdoutFd = null.fd(),
                                  .stderrFd = null.fd(),
                                  .passFd = guard.fd(),
                                  .ownSession = true});
    if (pid > 0) hostEnd = std::move(host);
    return pid;
}

// No deadline: a machine that is slow at login must not fail the start. A
// quit signal still ends the wait (the host then quits), also one that came
// before the wait began, which interrupts no poll.
bool awaitArmed(int hostEnd) {
    pollfd watch[2] = {{hostEnd, POLLIN, 0}, {Application::quitSignalDescriptor(), POLLIN, 0}};
    while (::poll(watch, 2, -1) < 0)
        if (errno != EINTR) return false;
    if (Application::quitSignalled() || watch[0].revents == 0) return false;
    char byte = 0;
    ssize_t n;
    while ((n = ::read(hostEnd, &byte, 1)) < 0 && errno == EINTR) {
    }
    return n == 1 && byte == kArmed;
}

}  // namespace platform::guard
