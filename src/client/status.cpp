#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "client/host_process.h"
#include "client/status_json.h"
#include "platform/files.h"
#include "quorva/client.h"

namespace quorva {
namespace {

// The host's file is about 130 bytes; anything far bigger is not its.
constexpr std::size_t kMaxStatusBytes = 64 * 1024;

enum class Read { Absent, Ok, Failed };

// A regular file only: a FIFO planted there must not hang the reader.
Read readSmallFile(const std::string& path, std::string& bytes, std::int64_t& mtimeNs,
                   std::string& error) {
    platform::FileHandle file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!file.valid()) {
        if (errno == ENOENT || errno == ENOTDIR) return Read::Absent;
        error = "cannot read " + path + ": " + std::strerror(errno);
        return Read::Failed;
    }
    struct stat st {};
    if (::fstat(file.fd(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = path + " is not a regular file";
        return Read::Failed;
    }
    mtimeNs = detail::modifiedNs(st);
    char buf[4096];
    for (ssize_t n; (n = ::read(file.fd(), buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            return Read::Failed;
        }
        bytes.append(buf, static_cast<std::size_t>(n));
        if (bytes.size() > kMaxStatusBytes) {
            error = path + " is too large to be a host's status";
            return Read::Failed;
        }
    }
    return Read::Ok;
}

// The six members, each of its type; anything else in the object is ignored.
std::string takeMembers(const std::vector<detail::JsonMember>& members, Status& s) {
    using Kind = detail::JsonMember::Kind;
    int seen = 0;
    for (const auto& m : members) {
        const auto is = [&](const char* key, Kind kind) { return m.key == key && m.kind == kind; };
        if (is("accessibility", Kind::Boolean)) {
            s.accessibility = m.boolean, seen |= 1;
        } else if (is("screen_recording", Kind::Boolean)) {
            s.screenRecording = m.boolean, seen |= 2;
        } else if (is("status", Kind::String) &&
                   (m.text == "ready" || m.text == "permission_required")) {
            s.status = m.text, seen |= 4;
        } else if (is("owner", Kind::String)) {
            s.owner = m.text, seen |= 8;
        } else if (is("bundle_id", Kind::String)) {
            s.bundleId = m.text, seen |= 16;
        } else if (is("host_pid", Kind::Integer) && m.integer > 0 && m.integer <= INT_MAX) {
            // Never 0 or negative: to kill() those name process groups.
            s.hostPid = static_cast<int>(m.integer), seen |= 32;
        }
    }
    const char* names[] = {"accessibility", "screen_recording", "status",
                           "owner",         "bundle_id",        "host_pid"};
    for (int k = 0; k < 6; ++k)
        if (!(seen & (1 << k))) return std::string("\"") + names[k] + "\" is missing or invalid";
    return {};
}

}  // namespace

Status readStatus(const std::string& home) {
    Status s;
    const std::string runtime = runtimeFolder(home);
    const std::string path = platform::joinPath(runtime, "status.json");
    std::string bytes, error;
    switch (readSmallFile(path, bytes, s.writtenNs, s.error)) {
        case Read::Absent:
            return s;
        case Read::Failed:
            return s;
        case Read::Ok:
            break;
    }
    const auto members = detail::parseObject(bytes, error);
    if (!members || !(error = takeMembers(*members, s)).empty()) {
        Status bad;
        bad.error = path + ": " + error;
        return bad;
    }
    s.present = true;
    s.running = detail::isHostOf(s.hostPid, runtime);
    return s;
}

std::string statusJson(const Status& s) {
    const auto flag = [](bool b) { return b ? "true" : "false"; };
    if (!s.present) return R"({"running":false})";
    using detail::jsonString;
    return std::string("{\"accessibility\":") + flag(s.accessibility) +
           ",\"bundle_id\":" + jsonString(s.bundleId) +
           ",\"host_pid\":" + std::to_string(s.hostPid) + ",\"owner\":" + jsonString(s.owner) +
           ",\"screen_recording\":" + flag(s.screenRecording) +
           ",\"status\":" + jsonString(s.status) + ",\"running\":" + flag(s.running) + "}";
}

}  // namespace quorva
