#include "quorvactl/doctor.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <ctime>

#include "client/host_process.h"
#include "client/trust.h"
#include "platform/files.h"
#include "quorva/client.h"
#include "quorvactl/logs.h"

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

// "2026-01-02 10:00:01 (3 min ago)"
std::string since(std::int64_t epoch) {
    const std::time_t t = static_cast<std::time_t>(epoch);
    std::tm local{};
    char when[32];
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", ::localtime_r(&t, &local));
    const long ago = static_cast<long>(std::time(nullptr) - t);
    const std::string span = ago < 120    ? std::to_string(ago) + " s"
                             : ago < 7200 ? std::to_string(ago / 60) + " min"
                                          : std::to_string(ago / 3600) + " h";
    return std::string(when) + " (" + span + " ago)";
}

// The home too: whoever can write there can put another runtime folder in place.
Check folder(const char* what, const std::string& path, const std::string& missing, bool& usable) {
    struct stat st {};
    usable = false;
    if (::stat(path.c_str(), &st) != 0)
        return {Mark::Problem, what, path + " does not exist: " + missing};
    if (!S_ISDIR(st.st_mode))
        return {Mark::Problem, what, path + " is not a folder: choose another home (--home)"};
    if (auto why = quorva::detail::distrust(quorva::detail::Entry::RuntimeFolder, path, st);
        !why.empty())
        return {Mark::Problem, what, why};
    usable = true;
    return {Mark::Ok, what, path + " (yours, mode " + octal(st.st_mode) + ")"};
}

Check host(const std::string& runtime, int pid) {
    if (!pid) return {Mark::Problem, "host", "not running: start one with quorvactl start"};
    const auto started = quorva::detail::startedAt(pid);
    return {Mark::Ok, "host",
            "running as pid " + std::to_string(pid) + (started ? " since " + since(*started) : "") +
                ", holding the lock on " + runtime};
}

Check status(const quorva::Status& s, const std::string& path, int pid) {
    if (!s.error.empty()) return {Mark::Problem, "status", s.error};
    if (!pid) return {Mark::Skipped, "status", "not checked: no host runs"};
    if (!s.present || !s.running)
        return {Mark::Problem, "status",
                path + " does not name the host (pid " + std::to_string(pid) +
                    "): it has not written its status yet; see the log below"};
    const std::string values = " (accessibility " + yesNo(s.accessibility) + ", screen recording " +
                               yesNo(s.screenRecording) + "), written " + ago(s.ageSeconds);
    if (s.stale)
        return {Mark::Problem, "status",
                "stale: written " + ago(s.ageSeconds) +
                    ", though the host rewrites it every second: it cannot write " + path +
                    " (a full disk? a read-only folder?); make room, then quorvactl restart"};
    if (s.ready()) return {Mark::Ok, "status", "ready" + values};
    return {Mark::Problem, "status",
            s.status + values + ": the display lines below say what is missing"};
}

Check driver(const std::string& home, const std::string& socket, int pid) {
    if (!pid) return {Mark::Skipped, "driver", "not checked: no host runs"};
    // One try: a running host's driver serves within moments of its start.
    if (const auto served = quorva::waitForDriver(home, std::chrono::milliseconds(0)); served)
        return {Mark::Ok, "driver", "accepts connections on " + socket};
    else if (served.cause().find("not trusted") != std::string::npos)
        return {Mark::Problem, "driver", served.cause()};
    return {Mark::Problem, "driver",
            "does not accept connections on " + socket + ": see the log below"};
}

// A log line as a terminal can show it: no control characters, not too long.
std::string printable(std::string line) {
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = '?';
    return line.size() > 200 ? line.substr(0, 197) + "..." : line;
}

void print(const Check& c) {
    const char* mark = c.mark == Mark::Ok ? "ok  " : c.mark == Mark::Problem ? "FAIL" : "--  ";
    std::printf("%s %s: %s\n", mark, c.what.c_str(), c.text.c_str());
}

}  // namespace

int doctor(const std::string& home) {
    const std::string runtime = quorva::runtimeFolder(home);
    bool homeUsable = false, usable = false;
    std::vector<Check> checks{folder("home", home, "quorvactl start makes it", homeUsable)};
    if (homeUsable)
        checks.push_back(folder("runtime folder", runtime,
                                "no host has run in " + home + "; quorvactl start", usable));
    else
        checks.push_back({Mark::Skipped, "runtime folder", "not checked: no home"});
    const quorva::Status s = usable ? quorva::readStatus(home) : quorva::Status{};
    const int pid = !usable     ? 0
                    : s.running ? s.hostPid
                                : quorva::detail::lockHolder(runtime).value_or(0);
    checks.push_back(host(runtime, pid));
    checks.push_back(status(s, platform::joinPath(runtime, "status.json"), pid));
    checks.push_back(driver(home, platform::joinPath(runtime, "driver.sock"), pid));
    for (auto& c : displayChecks(pid)) checks.push_back(std::move(c));
    bool well = true;
    for (const auto& c : checks) print(c), well = well && c.mark != Mark::Problem;

    const std::string log = platform::joinPath(runtime, "desktop.log");
    std::string error;
    const auto lines = lastLines(log, 5, 4096, error);
    if (!error.empty())
        std::printf("log: %s\n", error.c_str());
    else
        std::printf("log: the last lines of %s (quorvactl logs for more):\n", log.c_str());
    for (const auto& line : lines) std::printf("    %s\n", printable(line).c_str());
    return well ? 0 : 1;
}

}  // namespace quorvactl
