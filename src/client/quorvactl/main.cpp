// quorvactl: a thin command line over Quorva::Client.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "client/causes.h"
#include "client/driver.h"
#include "client/host_process.h"
#include "contract/entries.h"
#include "platform/files.h"
#include "quorva/client.h"
#include "quorvactl/command_line.h"
#include "quorvactl/doctor.h"
#include "quorvactl/hold.h"
#include "quorvactl/logs.h"
#include "quorvactl/output.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReady = 0, kError = 1, kPermissionRequired = 2, kNotRunning = 3, kStale = 4;

std::string who(const quorvactl::CommandLine& line) {
    return line.command.empty() ? "quorvactl" : "quorvactl " + line.command;
}

int fail(const quorvactl::CommandLine& line, const std::string& cause) {
    quorvactl::complain(who(line), cause);
    return line.command == "hold" ? quorvactl::kHoldFailed : kError;
}

bool reached(const quorva::Status& s, const std::string& wanted) {
    return wanted == "ready" ? s.ready() : s.running;
}

int exitCode(const quorva::Status& s) {
    return s.ready() ? kReady : s.stale ? kStale : s.running ? kPermissionRequired : kNotRunning;
}

std::string yesNo(bool b) {
    return b ? "yes" : "no";
}

std::string state(const quorva::Status& s) {
    if (!s.running) return "not running";
    if (!s.stale) return s.status;
    char age[32];
    std::snprintf(age, sizeof age, "%.0f s", s.ageSeconds);
    return "stale: the running host (pid " + std::to_string(s.hostPid) +
           ") last wrote its status " + age + " ago and cannot write it now (see quorvactl doctor)";
}

// As systemctl status shows a service: the state first, then one line each
// for the host, its status file and its driver, then the log's last lines.
std::string describe(const quorva::Status& s, const std::string& home) {
    namespace detail = quorva::detail;
    const std::string runtime = quorva::runtimeFolder(home);
    std::string text = state(s) + "\n";
    if (s.running) {
        const auto started = detail::startedAt(s.hostPid);
        char written[32];
        std::snprintf(written, sizeof written, "%.1f s ago", s.ageSeconds);
        const std::string socket = platform::joinPath(runtime, contract::kDriverSocket);
        text += "    host: pid " + std::to_string(s.hostPid) +
                (started ? ", running since " + quorvactl::since(*started) : "") + "\n";
        text += "  status: accessibility " + yesNo(s.accessibility) + ", screen recording " +
                yesNo(s.screenRecording) + "; " +
                detail::quoted(platform::joinPath(runtime, contract::kStatusFile)) + " written " +
                written + "\n";
        const auto accepts = detail::driverAccepts(home);
        text += "  driver: " +
                (accepts ? "accepts connections on " + detail::quoted(socket) : accepts.cause()) +
                "\n";
    } else if (const auto holder = detail::lockHolder(runtime); holder && holder->host) {
        // A host that is starting: its status comes at the end of its start.
        text += "    lock: held by the host (pid " + std::to_string(holder->pid) +
                "), which has not written its status yet\n";
    } else if (holder && holder->pid) {
        text += "    lock: " + detail::notTheHost(*holder, runtime) +
                ", so no host can start there until it ends\n";
    }
    std::string error;
    const std::string log = platform::joinPath(runtime, contract::kLog);
    const auto lines = quorvactl::lastLines(log, 5, 4096, error);
    if (error.empty()) {
        text += "     log: " + detail::quoted(log) + " ends (quorvactl logs for more):\n";
        for (const auto& line : lines) text += "          " + quorvactl::printable(line) + "\n";
    }
    return text;
}

int status(const quorvactl::CommandLine& line, const std::string& home) {
    const auto deadline = Clock::now() + quorvactl::timeoutOf(line);
    quorva::Status s = quorva::readStatus(home);
    while (s.error.empty() && line.wait && !reached(s, *line.wait) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        s = quorva::readStatus(home);
    }
    if (!s.error.empty()) return fail(line, s.error);
    const int code = exitCode(s);
    if (line.quiet) return code;
    if (!line.json) return quorvactl::out(describe(s, home)), code;
    const std::string json = quorva::statusJson(s);
    if (json.empty()) return fail(line, "out of memory");
    quorvactl::out(json + "\n");
    return code;
}

// The host checked to be the home's own, as status finds it.
int pid(const quorvactl::CommandLine& line, const std::string& home) {
    const quorva::Status s = quorva::readStatus(home);
    if (!s.error.empty()) return fail(line, s.error);
    if (line.command == "is-running") return s.running ? 0 : kNotRunning;
    if (!s.running) return quorvactl::complain(who(line), "not running"), kNotRunning;
    quorvactl::out(std::to_string(s.hostPid) + "\n");
    return 0;
}

int start(const quorvactl::CommandLine& line, const std::string& home, bool permissions) {
    quorva::StartOptions options;
    options.home = home;
    options.english = line.english;
    options.permissions = permissions;
    options.timeout = quorvactl::timeoutOf(line);
    const auto started = quorva::startHost(options);
    return started ? 0 : fail(line, started.cause());
}

// As systemctl stop: a host that does not run is stopped already.
int stop(const quorvactl::CommandLine& line, const std::string& home) {
    bool wasRunning = false;
    const auto stopped = quorva::stopHost(home, quorvactl::timeoutOf(line), &wasRunning);
    if (!stopped) return fail(line, stopped.cause());
    if (line.command == "restart") return start(line, home, line.permissions);
    if (!wasRunning) quorvactl::complain(who(line), "not running");
    return 0;
}

int waitDriver(const quorvactl::CommandLine& line, const std::string& home) {
    const auto served = quorva::waitForDriver(home, quorvactl::timeoutOf(line));
    return served ? 0 : fail(line, served.cause());
}

int run(const quorvactl::CommandLine& line) {
    if (!line.error.empty()) return fail(line, line.error);
    if (line.version) return quorvactl::out("quorvactl " QUORVA_VERSION "\n"), 0;
    if (line.help) return quorvactl::out(quorvactl::usage(line.command)), 0;

    const auto home = quorva::homeFolder(line.home);
    if (!home) return fail(line, "cannot tell the home folder: the working folder is gone");
    if (line.command == "home") return quorvactl::out(*home + "\n"), 0;
    if (line.command == "status") return status(line, *home);
    if (line.command == "pid" || line.command == "is-running") return pid(line, *home);
    if (line.command == "start") return start(line, *home, line.permissions);
    if (line.command == "stop" || line.command == "restart") return stop(line, *home);
    if (line.command == "permissions") return start(line, *home, true);
    if (line.command == "wait-driver") return waitDriver(line, *home);
    if (line.command == "logs") return quorvactl::logs(line, *home);
    if (line.command == "doctor") return quorvactl::doctor(*home);
    return quorvactl::hold(line, *home);
}

}  // namespace

int main(int argc, char** argv) {
    quorvactl::guardStandardStreams();
    const auto line = quorvactl::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    int status;
    try {
        status = run(line);
    } catch (const std::exception& e) {
        status = fail(line, e.what());
    }
    if (const int error = quorvactl::writeError()) {
        quorvactl::complain("quorvactl", std::string("write error: ") + std::strerror(error));
        return line.command == "hold" ? quorvactl::kHoldFailed : kError;
    }
    return status;
}
