#include "quorvactl/doctor.h"

#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "client/causes.h"
#include "client/host_process.h"
#include "client/status_json.h"
#include "client/trust.h"
#include "contract/entries.h"
#include "platform/files.h"
#include "quorva/client.h"
#include "quorvactl/logs.h"
#include "quorvactl/output.h"

namespace quorvactl {
namespace {

using Mark = Check::Mark;

std::string yesNo(bool b) {
    return b ? "yes" : "no";
}

std::string octal(mode_t mode) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%04o", static_cast<unsigned>(mode & 07777));
    return buf;
}

std::string ago(double seconds) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f s ago", seconds);
    return buf;
}

std::string q(const std::string& path) {
    return quorva::detail::quoted(path);
}

// The home too: whoever can write there can put another runtime folder in place.
Check folder(const char* what, const std::string& path, const std::string& missing, bool& usable) {
    struct stat st {};
    usable = false;
    if (::stat(path.c_str(), &st) != 0)
        return {Mark::Problem, what,
                errno == ENOENT ? q(path) + " does not exist: " + missing
                                : "cannot read " + q(path) + ": " + std::strerror(errno)};
    if (!S_ISDIR(st.st_mode))
        return {Mark::Problem, what, q(path) + " is not a folder: choose another home (--home)"};
    if (auto why = quorva::detail::distrust(quorva::detail::Entry::RuntimeFolder, path, st);
        !why.empty())
        return {Mark::Problem, what, why};
    usable = true;
    return {Mark::Ok, what, q(path) + " (yours, mode " + octal(st.st_mode) + ")"};
}

// Who holds the home, as status and stop see it.
Check host(const std::string& runtime, const quorva::detail::Holder& holder) {
    if (!holder.pid) return {Mark::Problem, "host", "not running: start one with quorvactl start"};
    if (!holder.host)
        return {Mark::Problem, "host",
                "not running: " + quorva::detail::notTheHost(holder, runtime) +
                    ", so no host can start there; end that process"};
    const auto started = quorva::detail::startedAt(holder.pid);
    return {Mark::Ok, "host",
            "running as pid " + std::to_string(holder.pid) +
                (started ? " since " + since(*started) : "") + ", holding the lock on " +
                q(runtime)};
}

Check status(const quorva::Status& s, const std::string& path, int pid) {
    if (!s.error.empty()) return {Mark::Problem, "status", s.error};
    if (!pid) return {Mark::Skipped, "status", "not checked: no host runs"};
    if (!s.present || !s.running)
        return {Mark::Problem, "status",
                q(path) + " does not name the host (pid " + std::to_string(pid) +
                    "): it has not written its status yet; see the log below"};
    const std::string values = " (accessibility " + yesNo(s.accessibility) + ", screen recording " +
                               yesNo(s.screenRecording) + "), written " + ago(s.ageSeconds);
    if (s.stale)
        return {Mark::Problem, "status",
                "stale: written " + ago(s.ageSeconds) +
                    ", though the host rewrites it every second: it cannot write " + q(path) +
                    " (a full disk? a read-only folder?); make room, then quorvactl restart"};
    if (s.ready()) return {Mark::Ok, "status", "ready" + values};
    return {Mark::Problem, "status",
            s.status + values + ": the display lines below say what is missing"};
}

Check driver(const std::string& home, const std::string& socket, int pid) {
    if (!pid) return {Mark::Skipped, "driver", "not checked: no host runs"};
    // One try: a running host's driver serves within moments of its start.
    if (const auto served = quorva::waitForDriver(home, std::chrono::milliseconds(0)); served)
        return {Mark::Ok, "driver", "accepts connections on " + q(socket)};
    else if (served.kind() == quorva::Outcome::Kind::Untrusted)
        return {Mark::Problem, "driver", served.cause()};
    return {Mark::Problem, "driver",
            "does not accept connections on " + q(socket) + ": see the log below"};
}

void print(const Check& c) {
    const char* mark = c.mark == Mark::Ok ? "ok  " : c.mark == Mark::Problem ? "FAIL" : "--  ";
    out(std::string(mark) + " " + c.what + ": " + printable(c.text) + "\n");
}

}  // namespace

int doctor(const std::string& home) {
    const std::string runtime = quorva::runtimeFolder(home);
    bool homeUsable = false, usable = false;
    std::vector<Check> checks{folder("home", home, "quorvactl start makes it", homeUsable)};
    if (homeUsable)
        checks.push_back(folder("runtime folder", runtime,
                                "no host has run in " + q(home) + "; quorvactl start", usable));
    else
        checks.push_back({Mark::Skipped, "runtime folder", "not checked: the home is not usable"});
    // What cannot be looked at is not said to be missing.
    quorva::detail::Unread why = quorva::detail::Unread::CannotLook;
    struct stat st {};
    const bool absent = !usable && ::stat(runtime.c_str(), &st) != 0 && errno == ENOENT;
    const quorva::Status s = usable ? quorva::detail::readStatus(home, why) : quorva::Status{};
    std::optional<quorva::detail::Holder> holder;
    if (s.running)
        holder = quorva::detail::Holder{s.hostPid, true};
    else if (absent)
        holder = quorva::detail::Holder{};  // no host has run there
    else if (why != quorva::detail::Unread::CannotLook)
        holder = quorva::detail::lockHolder(runtime);
    const int pid = holder && holder->host ? holder->pid : 0;
    if (!holder) {
        const std::string reason =
            !usable ? "the runtime folder is not usable (above)"
                    : (s.error.empty() ? std::string(std::strerror(errno)) : s.error);
        checks.push_back({Mark::Skipped, "host", "not checked: " + reason});
        checks.push_back({Mark::Skipped, "status", "not checked: " + reason});
        checks.push_back({Mark::Skipped, "driver", "not checked: " + reason});
    } else {
        checks.push_back(host(runtime, *holder));
        checks.push_back(status(s, platform::joinPath(runtime, contract::kStatusFile), pid));
        checks.push_back(driver(home, platform::joinPath(runtime, contract::kDriverSocket), pid));
    }
    for (auto& c : displayChecks(pid)) checks.push_back(std::move(c));
    bool well = true;
    for (const auto& c : checks) print(c), well = well && c.mark != Mark::Problem;

    const std::string log = platform::joinPath(runtime, contract::kLog);
    std::string error;
    const auto lines = lastLines(log, 5, 4096, error);
    if (!error.empty())
        out("log: " + printable(error) + "\n");
    else
        out("log: the last lines of " + q(log) + " (quorvactl logs for more):\n");
    for (const auto& line : lines) out("    " + printable(line) + "\n");
    return well ? 0 : 1;
}

}  // namespace quorvactl
