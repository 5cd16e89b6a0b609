#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "client/causes.h"
#include "client/host_process.h"
#include "client/status_json.h"
#include "client/trust.h"
#include "contract/entries.h"
#include "platform/files.h"
#include "quorva/client.h"

namespace quorva {
namespace {

// The host's file is about 150 bytes; anything far bigger is not its.
constexpr std::size_t kMaxStatusBytes = 64 * 1024;

enum class Read { Absent, Ok, Failed };

// A regular file only, and only one the caller may trust (in `folder`): a
// FIFO planted there must not hang the reader, nor a device be read, nor a
// huge file be parsed. `st` describes what was read.
Read readSmallFile(const std::string& path, const struct stat& folder, std::string& bytes,
                   struct stat& st, std::string& error) {
    platform::FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.valid()) {
        if (errno == ENOENT || errno == ENOTDIR) return Read::Absent;
        error = "cannot read " + detail::quoted(path) + ": " + std::strerror(errno);
        return Read::Failed;
    }
    if (::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = detail::quoted(path) + " is not a regular file";
        return Read::Failed;
    }
    const std::string tooLarge = detail::quoted(path) + " is too large to be a host's status";
    if ((error = detail::distrust(detail::Entry::StatusFile, path, st, &folder)).empty() &&
        static_cast<std::size_t>(st.st_size) > kMaxStatusBytes)
        error = tooLarge;
    char buf[4096];
    for (ssize_t n; error.empty() && (n = ::read(file.fd(), buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = "cannot read " + detail::quoted(path) + ": " + std::strerror(errno);
        if (n > 0) bytes.append(buf, static_cast<std::size_t>(n));
        if (bytes.size() > kMaxStatusBytes) error = tooLarge;
    }
    return error.empty() ? Read::Ok : Read::Failed;
}

// Wall-clock seconds since `ns`; a file from the future (the clock was set
// back) counts as just written.
double secondsSince(std::int64_t ns) {
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                         std::chrono::system_clock::now().time_since_epoch())
                         .count();
    return now > ns ? static_cast<double>(now - ns) / 1e9 : 0.0;
}

}  // namespace

namespace detail {

Status readStatus(const std::string& home, Unread& why) try {
    Status s;
    why = Unread::CannotLook;
    const std::string runtime = runtimeFolder(home);
    const std::string path = platform::joinPath(runtime, contract::kStatusFile);
    struct stat folder {
    }, st{};
    if (::stat(runtime.c_str(), &folder) != 0) {
        // No host has run there yet; anything else (a home this user cannot
        // enter) is not taken for "not running".
        if (errno != ENOENT && errno != ENOTDIR)
            s.error = "cannot read " + quoted(runtime) + ": " + std::strerror(errno);
        else
            why = Unread::None;
        return s;
    }
    if (!S_ISDIR(folder.st_mode)) return why = Unread::None, s;
    if (s.error = distrust(Entry::RuntimeFolder, runtime, folder); !s.error.empty()) return s;
    why = Unread::NotAStatus;
    std::string bytes;
    switch (readSmallFile(path, folder, bytes, st, s.error)) {
        case Read::Absent:
            return why = Unread::None, s;
        case Read::Failed:
            return s;
        case Read::Ok:
            break;
    }
    if (const std::string cause = parseStatus(bytes, s); !cause.empty()) {
        Status bad;
        bad.error = quoted(path) + ": " + cause;
        return bad;
    }
    why = Unread::CannotLook;
    s.present = true;
    s.writtenNs = modifiedNs(st);
    s.ageSeconds = secondsSince(s.writtenNs);
    // The file outlives its host, and anything may hold the lock: only the
    // host's own program holding it is the host.
    const auto host = isHost(s.hostPid, runtime);
    if (!host) {
        Status unknown;
        unknown.error = "cannot tell whether pid " + std::to_string(s.hostPid) +
                        " is the host of " + quoted(home) + ": " + std::strerror(errno);
        return unknown;
    }
    why = Unread::None;
    s.running = *host;
    s.stale = s.running && s.ageSeconds > kStaleAfterSeconds;
    return s;
} catch (const std::exception& e) {
    Status failed;
    failed.error = "cannot read the status of " + quoted(home) + ": " + e.what();
    return failed;
}

}  // namespace detail

Status readStatus(const std::string& home) {
    detail::Unread why;
    return detail::readStatus(home, why);
}

}  // namespace quorva
