#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "client/host_process.h"
#include "client/status_json.h"
#include "client/trust.h"
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
        error = "cannot read " + path + ": " + std::strerror(errno);
        return Read::Failed;
    }
    if (::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + " is not a regular file";
        return Read::Failed;
    }
    if ((error = detail::distrust(detail::Entry::StatusFile, path, st, &folder)).empty() &&
        static_cast<std::size_t>(st.st_size) > kMaxStatusBytes)
        error = path + " is too large to be a host's status";
    char buf[4096];
    for (ssize_t n; error.empty() && (n = ::read(file.fd(), buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) error = "cannot read " + path + ": " + std::strerror(errno);
        if (n > 0) bytes.append(buf, static_cast<std::size_t>(n));
        if (bytes.size() > kMaxStatusBytes) error = path + " is too large to be a host's status";
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

Status readStatus(const std::string& home) {
    Status s;
    const std::string runtime = runtimeFolder(home);
    const std::string path = platform::joinPath(runtime, "status.json");
    struct stat folder {
    }, st{};
    if (::stat(runtime.c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode)) return s;
    if (s.error = detail::distrust(detail::Entry::RuntimeFolder, runtime, folder); !s.error.empty())
        return s;
    std::string bytes;
    if (readSmallFile(path, folder, bytes, st, s.error) != Read::Ok) return s;
    if (const std::string why = detail::parseStatus(bytes, s); !why.empty()) {
        Status bad;
        bad.error = path + ": " + why;
        return bad;
    }
    s.present = true;
    s.writtenNs = detail::modifiedNs(st);
    s.ageSeconds = secondsSince(s.writtenNs);
    const auto holds = detail::holdsLock(s.hostPid, runtime);
    if (!holds) {
        Status unknown;
        unknown.error = "cannot tell whether pid " + std::to_string(s.hostPid) +
                        " is the host of " + home + ": " + std::strerror(errno);
        return unknown;
    }
    s.running = *holds;
    s.stale = s.running && s.ageSeconds > kStaleAfterSeconds;
    return s;
}

}  // namespace quorva
