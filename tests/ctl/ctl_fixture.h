#pragma once

// quorvactl end to end: the tool run as a user runs it, with the real built
// host, in a temporary folder whose processes end with the test.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "quorva/client.h"
#include "support/test_support.h"

namespace ctl {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Result {
    int status = -1;  // raw wait status
    std::string out, err;
    int exit() const { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }
};

class Ctl : public ::testing::Test {
  public:
    test::TempDir tmp;
    const std::string home = tmp / "home";
    std::vector<std::string> env = test::environmentWith({}, {"DISPLAY", "WAYLAND_DISPLAY"});

    // Hosts run detached: end every process that works in this test's folder.
    ~Ctl() override {
        for (const pid_t pid : test::processesMentioning(tmp.path())) ::kill(pid, SIGKILL);
    }

    test::Process spawn(std::vector<std::string> args) {
        args.insert(args.begin(), QUORVA_TEST_CTL);
        return test::spawnProcess(args, env, tmp.path());
    }
    // Any program, in this test's environment and folder.
    Result exec(const std::vector<std::string>& argv, std::chrono::milliseconds timeout = 20s) {
        auto p = test::spawnProcess(argv, env, tmp.path());
        Result r;
        r.status = p.wait(timeout);
        r.out = test::readFile(p.outPath);
        r.err = test::readFile(p.errPath);
        return r;
    }
    Result run(std::vector<std::string> args, std::chrono::milliseconds timeout = 20s) {
        args.insert(args.begin(), QUORVA_TEST_CTL);
        return exec(args, timeout);
    }
    std::string at(const std::string& name, const std::string& h = "") const {
        return (h.empty() ? home : h) + "/desktop/" + name;
    }
    quorva::Status status(const std::string& h = "") const {
        return quorva::readStatus(h.empty() ? home : h);
    }

    // Checks status files against the installed schema with an independent validator.
    static int validate(const std::vector<std::string>& files) {
        std::string cmd = "/usr/bin/python3 " QUORVA_TEST_SOURCE_DIR
                          "/ctl/validate_status.py " QUORVA_TEST_SCHEMA;
        for (const auto& f : files) cmd += " '" + f + "'";
        const int status = std::system((cmd + " 2>/dev/null").c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

}  // namespace ctl
