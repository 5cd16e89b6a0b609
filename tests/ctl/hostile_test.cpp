// quorvactl against what hostile users, broken hosts and careless scripts
// leave: malformed files, another program on the home's lock, a home the
// caller cannot enter, output that cannot be written.
#include <sys/stat.h>

#include <filesystem>
#include <thread>

#include "ctl/ctl_fixture.h"

namespace {

using namespace ctl;

bool alive(pid_t pid) {
    const std::string stat = test::readFile("/proc/" + std::to_string(pid) + "/stat");
    return !stat.empty() && stat.find(") Z ") == std::string::npos;
}

void expectOneLine(const Result& r) {
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    EXPECT_TRUE(r.err.starts_with("quorvactl")) << r.err;
}

// A number no double holds is as malformed as any: one cause, never an abort,
// and hold's entry goes with it.
TEST_F(Ctl, AMalformedStatusIsOneCauseNeverAnAbort) {
    struct Case {
        std::vector<std::string> args;
        int exit;
        std::string said;  // on standard error, or in doctor's lines
    };
    const Case cases[] = {
        {{"status"}, 1, "out of range"},
        {{"stop"}, 0, "not running"},
        {{"doctor"}, 1, "FAIL status: "},
        {{"pid"}, 1, "out of range"},
        // A host started there replaces the file.
        {{"start"}, 0, ""},
        {{"restart"}, 0, ""},
        {{"permissions"}, 0, ""},
        {{"hold", "--", "true"}, 0, ""},
    };
    int round = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const std::string h = tmp / ("home" + std::to_string(++round));
        std::filesystem::create_directories(h + "/desktop");
        ::chmod((h + "/desktop").c_str(), 0700);
        test::writeFile(h + "/desktop/status.json", R"({"x":[1e999],"n":-1e400})", 0600);
        std::vector<std::string> args = c.args;
        args.insert(args.begin() + 1, {"--home", h});
        const Result r = run(args);
        EXPECT_FALSE(WIFSIGNALED(r.status)) << "ended by signal " << WTERMSIG(r.status);
        EXPECT_EQ(r.exit(), c.exit) << r.err;
        EXPECT_NE((r.err + r.out).find(c.said), std::string::npos) << r.err << r.out;
        if (!r.err.empty()) expectOneLine(r);
        if (c.args[0] == "hold") {
            EXPECT_TRUE(test::namesIn(h + "/desktop/clients").empty());
        }
    }
}

// flock run on the home: it holds the lock, yet it is no host. Every
// command agrees no host runs, names it where it matters, and leaves it alone.
// Run as the host's program, it is a host that has not written its status yet.
TEST_F(Ctl, AnotherProgramHoldingTheLockIsNamedAndLeftAlone) {
    std::filesystem::create_directories(home + "/desktop");
    ::chmod((home + "/desktop").c_str(), 0700);
    // What it runs names the test's folder, so that the fixture ends it with the rest.
    test::writeFile(tmp / "held", "");
    auto flock = test::spawnProcess(
        {"/usr/bin/flock", "-x", home + "/desktop", "tail", "-f", tmp / "held"}, env, tmp.path());
    const std::string mark = " " + std::to_string(flock.pid) + " ";
    ASSERT_TRUE(test::waitFor(
        [&] { return test::readFile("/proc/locks").find(mark) != std::string::npos; }));
    const std::string named = "pid " + std::to_string(flock.pid) + " (flock)";
    // Even a status that names it, as one left by a host whose pid it now has.
    test::writeFile(at("status.json"),
                    R"({"accessibility":true,"bundle_id":"com.quorva.desktop","host_pid":)" +
                        std::to_string(flock.pid) +
                        R"(,"owner":"Quorva","screen_recording":true,"status":"ready"})",
                    0600);
    Result r = run({"status", "--home", home});
    EXPECT_EQ(r.exit(), 3);
    EXPECT_TRUE(r.out.starts_with("not running\n")) << r.out;
    EXPECT_NE(r.out.find(named), std::string::npos) << r.out;
    EXPECT_EQ(run({"is-running", "--home", home}).exit(), 3);
    r = run({"stop", "--home", home});
    EXPECT_EQ(r.exit(), 1);
    EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
    expectOneLine(r);
    r = run({"doctor", "--home", home});
    EXPECT_NE(r.out.find("FAIL host: not running: " + named), std::string::npos) << r.out;
    const auto began = Clock::now();
    r = run({"start", "--home", home, "--timeout", "5"});
    EXPECT_EQ(r.exit(), 1);
    EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
    EXPECT_LT(Clock::now() - began, 3s) << "waited for a host that cannot come";
    EXPECT_TRUE(test::processesMentioning(home, "quorva-desktop").empty());
    std::this_thread::sleep_for(100ms);
    EXPECT_TRUE(alive(flock.pid)) << "signalled";

    // The host's own program holding the lock is the host, before it has written its status.
    const std::string starting = tmp / "starting", stand = tmp / "quorva-desktop";
    std::filesystem::create_directories(starting + "/desktop");
    ::chmod((starting + "/desktop").c_str(), 0700);
    std::filesystem::copy_file("/usr/bin/flock", stand);
    auto host = test::spawnProcess({stand, "-o", "-x", starting + "/desktop", "tail", "-f", stand},
                                   env, tmp.path());
    const std::string pid = std::to_string(host.pid);
    ASSERT_TRUE(test::waitFor(
        [&] { return test::readFile("/proc/locks").find(" " + pid + " ") != std::string::npos; }));
    r = run({"doctor", "--home", starting});
    EXPECT_NE(r.out.find("\nok   host: running as pid " + pid), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("(pid " + pid + "): it has not written its status yet"),
              std::string::npos);
    r = run({"status", "--home", starting});
    EXPECT_NE(r.out.find("\n    lock: held by the host (pid " + pid + "), which has not written"),
              std::string::npos)
        << r.out;
}

// As a user who cannot enter the home (another user's 0700 home; without
// root, a home of mode 0000): a permission error, never "not running".
TEST_F(Ctl, AHomeTheCallerCannotEnterIsAnErrorNeverNotRunning) {
    ASSERT_EQ(run({"start", "--home", home}).exit(), 0);
    std::vector<std::string> as;
    std::string ctl = QUORVA_TEST_CTL;
    if (::geteuid() == 0) {
        ::chmod(tmp.path().c_str(), 0755);
        ::chmod(home.c_str(), 0700);
        as = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        // The build may lie where that user cannot reach (a clone under /root): quorvactl is
        // copied, with the host binary it looks for beside it, where it can.
        ctl = tmp / "bin/quorvactl";
        std::filesystem::create_directories(tmp / "QuorvaDesktop/bin");
        std::filesystem::create_directories(tmp / "bin");
        std::filesystem::copy_file(QUORVA_TEST_CTL, ctl);
        std::filesystem::copy_file(test::builtAppFolder() + "/bin/quorva-desktop",
                                   tmp / "QuorvaDesktop/bin/quorva-desktop");
    } else {
        ::chmod(home.c_str(), 0);
    }
    struct Case {
        std::vector<std::string> args;
        int exit;
    };
    const Case cases[] = {
        {{"status"}, 1},
        {{"is-running"}, 1},
        {{"pid"}, 1},
        {{"stop"}, 1},
        {{"start"}, 1},
        {{"restart"}, 1},
        {{"wait-driver"}, 1},
        {{"logs"}, 1},
        {{"logs", "-f"}, 1},
        {{"doctor"}, 1},
        {{"hold", "--", "true"}, 125},
    };
    const std::size_t hosts = test::processesMentioning(home, "quorva-desktop").size();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 1 ? " " + c.args[1] : ""));
        std::vector<std::string> argv = as;
        argv.push_back(ctl);
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        argv.insert(argv.begin() + static_cast<long>(as.size() + 2), {"--home", home});
        const auto began = Clock::now();
        const Result r = exec(argv, 8s);
        EXPECT_LT(Clock::now() - began, 5s) << "waited";
        EXPECT_EQ(r.exit(), c.exit) << r.err << r.out;
        if (c.args[0] == "doctor") {  // the home is another user's, or cannot be entered
            EXPECT_NE(r.out.find("\nlog: cannot read "), std::string::npos) << r.out;
            EXPECT_EQ(r.out.find("not running"), std::string::npos) << r.out;
            continue;
        }
        expectOneLine(r);
        EXPECT_NE(r.err.find(home), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("Permission denied"), std::string::npos) << r.err;
    }
    EXPECT_EQ(test::processesMentioning(home, "quorva-desktop").size(), hosts) << "started";
    ::chmod(home.c_str(), 0700);
}

// As coreutils and systemctl: output that cannot be written is an error.
TEST_F(Ctl, OutputThatCannotBeWrittenFailsTheCommand) {
    std::filesystem::create_directories(home + "/desktop");
    test::writeFile(at("desktop.log"), "a line\n", 0600);
    const std::pair<std::string, std::string> cases[] = {
        {"home > /dev/full", "No space left on device"},
        {"logs > /dev/full", "No space left on device"},
        {"logs -n all > /dev/full", "No space left on device"},
        {"status --json >&-", "Bad file descriptor"},
        {"status >&-", "Bad file descriptor"},
        {"doctor > /dev/full", "No space left on device"},
        {"--help > /dev/full", "No space left on device"},
    };
    for (const auto& [command, cause] : cases) {
        SCOPED_TRACE(command);
        const Result r =
            exec({"/bin/sh", "-c", "exec \"$0\" --home \"$1\" " + command, QUORVA_TEST_CTL, home});
        EXPECT_EQ(r.exit(), 1);
        EXPECT_EQ(r.err, "quorvactl: write error: " + cause + "\n");
    }
}

// Asked about its driver and host, doctor says what it could not look at,
// never that nothing runs.
TEST_F(Ctl, DoctorSaysWhatItCouldNotLookAt) {
    ASSERT_EQ(run({"start", "--home", home}).exit(), 0);
    ::chmod((home + "/desktop").c_str(), 0777);
    const Result r = run({"doctor", "--home", home});
    ::chmod((home + "/desktop").c_str(), 0700);
    EXPECT_EQ(r.exit(), 1);
    EXPECT_NE(r.out.find("\nFAIL runtime folder: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\n--   host: not checked: "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("not running"), std::string::npos) << r.out;
}

}  // namespace
