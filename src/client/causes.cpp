#include "client/causes.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "quorva/client.h"

namespace quorva::detail {
namespace {

std::string parentOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

}  // namespace

std::string folderProblem(const std::string& folder) {
    for (std::string p = folder;; p = parentOf(p)) {
        struct stat st {};
        if (::stat(p.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return p + " is not a folder";
            if (::access(p.c_str(), W_OK | X_OK) == 0) return {};
            return p == folder ? p + " is not writable"
                               : "cannot create " + folder + ": " + p + " is not writable";
        }
        if (errno != ENOENT && errno != ENOTDIR)
            return "cannot reach " + p + ": " + std::strerror(errno);
        if (::lstat(p.c_str(), &st) == 0) return p + " is a link to nothing";
        if (p == "/") return {};
    }
}

std::string whyHostFailed(const std::string& home, const std::string& host, int status) {
    const std::string runtime = runtimeFolder(home);
    if (auto problem = folderProblem(platform::joinPath(runtime, "clients")); !problem.empty())
        return "the host cannot start in " + home + ": " + problem;
    const std::string log = platform::joinPath(runtime, "desktop.log");
    struct stat st {};
    if (::stat(log.c_str(), &st) == 0 && (!S_ISREG(st.st_mode) || ::access(log.c_str(), W_OK) != 0))
        return "the host cannot start: " + log + " is not a writable file";
    char real[PATH_MAX];
    if (::realpath(host.c_str(), real)) {
        const std::string bin = real;
        const std::string driver =
            bin.substr(0, bin.find_last_of('/')) + "/../Resources/vov-driver";
        if (::access(driver.c_str(), X_OK) != 0)
            return "the host cannot start: its driver is missing (" + driver + ")";
    }
    if (WIFSIGNALED(status))
        return "the host ended by signal " + std::to_string(WTERMSIG(status)) +
               " before writing its status";
    return "the host could not start in " + home + " (exit status " +
           std::to_string(WEXITSTATUS(status)) + ")";
}

std::string seconds(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g s", s);
    return buf;
}

}  // namespace quorva::detail
