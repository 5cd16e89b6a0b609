#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace host_test {

using namespace std::chrono_literals;

// One host run from a private copy of the app folder, with its home folder in
// a temporary folder. Drivers outlive the host by design, so whatever driver
// this run started is killed at the end.
class HostRun : public ::testing::Test {
  public:
    test::TempDir tmp;
    const std::string app = test::copyAppFolder(tmp.path());
    std::string home = tmp / "home";  // a test may move it before start()

    ~HostRun() override {
        const pid_t pid = driverPid();
        if (pid > 0) ::kill(pid, SIGKILL);
    }

    std::string runtime() const { return home + "/desktop"; }
    std::string entry(const std::string& name) const { return runtime() + "/" + name; }
    std::string driverPath() const { return app + "/Resources/vov-driver"; }
    std::string pidFile() const { return tmp / "driver.pid"; }
    std::string log() const { return test::readFile(entry("desktop.log")); }

    // Replaces the driver with a shell script that first records its pid.
    void scriptDriver(const std::string& body) {
        test::writeFile(driverPath(), "#!/bin/sh\necho $$ > '" + pidFile() + "'\n" + body, 0755);
    }

    // A script driver's recorded pid, else the pid the stand-in driver logs.
    pid_t driverPid() const {
        int pid = -1;
        if (std::sscanf(test::readFile(pidFile()).c_str(), "%d", &pid) == 1) return pid;
        std::sscanf(log().c_str(), "vov-driver (stand-in) %d:", &pid);
        return pid;
    }

    bool driverAlive() const {
        const pid_t pid = driverPid();
        return pid > 0 && ::kill(pid, 0) == 0;
    }

    // Starts the host without a display unless `display` is given; with a
    // `umask`, through a shell that sets it first.
    test::Process start(const std::vector<std::string>& args = {},
                        std::vector<std::string> env = {}, const std::string& umask = "",
                        const std::string& display = "") {
        std::vector<std::string> argv;
        if (!umask.empty()) argv = {"/bin/sh", "-c", "umask " + umask + "; exec \"$0\" \"$@\""};
        argv.insert(argv.end(), {app + "/bin/quorva-desktop", "--home", home});
        argv.insert(argv.end(), args.begin(), args.end());
        if (!display.empty()) env.push_back("DISPLAY=" + display);
        return test::spawnProcess(
            argv, test::environmentWith(env, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}),
            tmp.path());
    }

    // The host has ended by itself, not by a signal, and said nothing.
    static void expectQuietExit(test::Process& host, std::chrono::milliseconds timeout = 10s) {
        const int status = host.wait(timeout);
        EXPECT_TRUE(status != -1 && WIFEXITED(status)) << "wait status " << status;
        expectSilent(host);
    }

    static void expectSilent(const test::Process& host) {
        EXPECT_EQ(test::readFile(host.outPath), "");
        EXPECT_EQ(test::readFile(host.errPath), "");
    }
};

}  // namespace host_test
