#include "client/causes.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

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
    return "the host " + howItEnded(status) + " before it took " + home + " (see " + log + ")";
}

std::string howItEnded(int status) {
    if (WIFSIGNALED(status)) {
        const char* name = ::strsignal(WTERMSIG(status));
        return "was ended by signal " + std::to_string(WTERMSIG(status)) +
               (name ? std::string(" (") + name + ")" : "");
    }
    return "ended with exit status " + std::to_string(WEXITSTATUS(status));
}

std::string lastLogLine(const std::string& log, off_t from) {
    platform::FileHandle file(::open(log.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat st {};
    if (!file.valid() || ::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= from)
        return {};
    // The end is enough to find the last line in; a huge log is not read whole.
    const off_t start = std::max(from, st.st_size - 4096);
    std::string tail(static_cast<std::size_t>(st.st_size - start), '\0');
    const ssize_t n = ::pread(file.fd(), tail.data(), tail.size(), start);
    tail.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    while (!tail.empty() && (tail.back() == '\n' || tail.back() == '\r')) tail.pop_back();
    tail.erase(0, tail.find_last_of('\n') + 1);
    for (char& c : tail)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    if (tail.size() > 160) tail = tail.substr(0, 157) + "...";
    return tail.empty() ? "" : "\"" + tail + "\"";
}

std::string seconds(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g s", s);
    return buf;
}

}  // namespace quorva::detail
