// quorvactl: a thin command line over Quorva::Client.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "quorva/client.h"
#include "quorvactl/command_line.h"
#include "quorvactl/doctor.h"
#include "quorvactl/hold.h"
#include "quorvactl/logs.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kReady = 0, kError = 1, kPermissionRequired = 2, kNotRunning = 3, kStale = 4;

int fail(const quorvactl::CommandLine& line, const std::string& cause) {
    const std::string who = line.command.empty() ? "quorvactl" : "quorvactl " + line.command;
    std::fprintf(stderr, "%s: %s\n", who.c_str(), cause.c_str());
    return line.command == "hold" ? quorvactl::kHoldFailed : kError;
}

bool reached(const quorva::Status& s, const std::string& wanted) {
    return wanted == "ready" ? s.ready() : s.running;
}

std::string describe(const quorva::Status& s) {
    if (!s.running) return "not running";
    if (!s.stale) return s.status;
    char age[32];
    std::snprintf(age, sizeof age, "%.0f s", s.ageSeconds);
    return "stale: the running host (pid " + std::to_string(s.hostPid) +
           ") last wrote its status " + age + " ago and cannot write it now (see quorvactl doctor)";
}

int status(const quorvactl::CommandLine& line, const std::string& home) {
    const auto deadline = Clock::now() + quorvactl::timeoutOf(line);
    quorva::Status s = quorva::readStatus(home);
    while (s.error.empty() && line.wait && !reached(s, *line.wait) && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        s = quorva::readStatus(home);
    }
    if (!s.error.empty()) return fail(line, s.error);
    std::printf("%s\n", (line.json ? quorva::statusJson(s) : describe(s)).c_str());
    return s.ready() ? kReady : s.stale ? kStale : s.running ? kPermissionRequired : kNotRunning;
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

int stop(const quorvactl::CommandLine& line, const std::string& home) {
    bool wasRunning = false;
    const auto stopped = quorva::stopHost(home, quorvactl::timeoutOf(line), &wasRunning);
    if (!stopped) return fail(line, stopped.cause());
    if (line.command == "restart") return start(line, home, line.permissions);
    return wasRunning ? 0 : kNotRunning;
}

int waitDriver(const quorvactl::CommandLine& line, const std::string& home) {
    const auto served = quorva::waitForDriver(home, quorvactl::timeoutOf(line));
    return served ? 0 : fail(line, served.cause());
}

}  // namespace

int main(int argc, char** argv) {
    const auto line = quorvactl::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    if (!line.error.empty()) return fail(line, line.error);
    if (line.version) return std::printf("quorvactl %s\n", QUORVA_VERSION), 0;
    if (line.help) return std::fputs(quorvactl::usage(line.command).c_str(), stdout), 0;

    const auto home = quorva::homeFolder(line.home);
    if (!home) return fail(line, "cannot tell the home folder: the working folder is gone");
    if (line.command == "home") return std::printf("%s\n", home->c_str()), 0;
    if (line.command == "status") return status(line, *home);
    if (line.command == "start") return start(line, *home, line.permissions);
    if (line.command == "stop" || line.command == "restart") return stop(line, *home);
    if (line.command == "permissions") return start(line, *home, true);
    if (line.command == "wait-driver") return waitDriver(line, *home);
    if (line.command == "logs") return quorvactl::logs(line, *home);
    if (line.command == "doctor") return quorvactl::doctor(*home);
    return quorvactl::hold(line, *home);
}
