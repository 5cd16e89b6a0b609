#include "client/causes.h"
#include "client/trust.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "contract/entries.h"
#include "platform/app_layout.h"
#include "platform/files.h"
#include "platform/runtime_folder.h"
#include "quorva/client.h"

namespace quorva::detail {
namespace {

bool plain(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("@%+=:,./_-", c) != nullptr;
}

bool control(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
}

}  // namespace

std::string quoted(std::string_view text) {
    if (!text.empty() &&
        std::all_of(text.begin(), text.end(), [](char c) { return c && plain(c); }))
        return std::string(text);
    std::string out;
    bool open = false;  // inside '...'
    for (const char c : text) {
        if (control(c) || c == '\0') {
            if (open) out += '\'', open = false;
            char escape[8];
            if (c == '\n' || c == '\t')
                std::snprintf(escape, sizeof escape, "$'\\%c'", c == '\n' ? 'n' : 't');
            else
                std::snprintf(escape, sizeof escape, "$'\\x%02x'", static_cast<unsigned char>(c));
            out += escape;
            continue;
        }
        if (!open) out += '\'', open = true;
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    if (open) out += '\'';
    return out.empty() ? "''" : out;
}

std::string homeProblem(const std::string& home) {
    if (home.empty() || home.front() != '/')
        return "the home folder must be an absolute path: " + quoted(home);
    const std::string socket = platform::joinPath(runtimeFolder(home), contract::kDriverSocket);
    if (socket.size() < sizeof(sockaddr_un::sun_path)) return {};
    return "the socket path " + quoted(socket) + " is too long for a Unix socket (" +
           std::to_string(socket.size()) + " bytes, at most " +
           std::to_string(sizeof(sockaddr_un::sun_path) - 1) + "): choose a shorter home folder";
}

std::string notTheHost(const Holder& holder, const std::string& runtime) {
    if (holder.pid < 0) return "a process you cannot see holds the lock on " + quoted(runtime);
    const std::string name = programName(holder.pid);
    return "pid " + std::to_string(holder.pid) + (name.empty() ? "" : " (" + quoted(name) + ")") +
           ", not a QuorvaDesktop host, holds the lock on " + quoted(runtime);
}

std::string describe(const platform::Error& error) {
    using platform::Step;
    const std::string where = quoted(error.path);
    const char* reason = std::strerror(error.code);
    switch (error.step) {
        case Step::MakeFolder:
            if (error.code == ENOTDIR) return where + " is not a folder";
            return "cannot create " + where + ": " + reason;
        case Step::FollowLink:
            if (error.code == ENOENT) return where + " is a link to nothing";
            break;
        case Step::Trust:
            if (auto why = distrustFolder(error.path); !why.empty()) return why;
            return where + " is not trusted: it is not this user's own, or others can write it";
        case Step::CreateFile:
            return "cannot create " + where + ": " + reason;
        default:
            break;
    }
    return where + ": " + reason;
}

// The host's start-up in its order, asked without acting: nothing is made
// here, since a host that stopped before making the folders must not find
// them made for it by the account of its failure.
std::string whyHostFailed(const std::string& home, const std::string& host, int status) {
    const std::string runtime = runtimeFolder(home);
    const std::string cannot = "the host cannot start in " + quoted(home) + ": ";
    const std::string clients = platform::joinPath(runtime, contract::kClients);
    const std::string log = platform::joinPath(runtime, contract::kLog);
    if (auto can = platform::canCreateDirectory(clients); !can)
        return cannot + describe(can.error());
    if (auto folder = platform::RuntimeFolder::open(runtime)) {
        if (auto opened = folder->openLog(contract::kLog, false, 0600);
            !opened && opened.error().code != ENOENT)
            return "the host cannot start: " + quoted(log) + " is not a writable file";
        if (auto held = folder->openFolder(contract::kClients);
            !held && held.error().code != ENOENT)
            return cannot +
                   describe(platform::Error::of(held.error().code, held.error().step, clients));
    } else if (folder.error().code != ENOENT) {
        return cannot + describe(folder.error());
    }
    char real[PATH_MAX];
    if (::realpath(host.c_str(), real)) {
        const std::string bin = real;
        const std::string driver =
            platform::joinPath(platform::resourceFolderOf(bin.substr(0, bin.find_last_of('/'))),
                               contract::kDriverProgram);
        if (::access(driver.c_str(), X_OK) != 0)
            return "the host cannot start: its driver is missing (" + quoted(driver) + ")";
    }
    return "the host " + howItEnded(status) + " before it took " + quoted(home) + " (see " +
           quoted(log) + ")";
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
