#pragma once

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace unit {

// Runs `body` in a forked copy of the test and returns its exit code (-1 if
// it did not exit normally), so a child can drop privileges or take on
// limits without touching the test process.
inline int exitCodeInChild(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

// Root ignores permission bits and may signal anyone; 'nobody' may not.
inline bool becomeNobody() {
    return ::setgroups(0, nullptr) == 0 && ::setgid(65534) == 0 && ::setuid(65534) == 0;
}

}  // namespace unit
