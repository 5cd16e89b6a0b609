// quorvactl end to end, with the real built host in temporary homes.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>

#include "ctl/ctl_fixture.h"

namespace {

using namespace ctl;

TEST_F(Ctl, StatusBeforeWhileAndAfterAHostWithoutDisplay) {
    const std::vector<std::string> ask{"status", "--home", home},
        json{"status", "--json", "--home", home};
    Result r = run(ask);
    EXPECT_EQ(std::pair(r.exit(), r.out), std::pair(3, std::string("not running\n")));
    EXPECT_EQ(run(json).out, "{\"running\":false}\n");
    r = run({"start", "--home", home});
    EXPECT_EQ(std::tuple(r.exit(), r.out, r.err), std::tuple(0, "", ""));
    const int host = status().hostPid;
    ASSERT_GT(host, 0);  // kill(0) would be our own process group
    // As systemctl status: the state, then the host, its file, its driver, its log.
    r = run(ask);
    EXPECT_EQ(r.exit(), 2);
    const std::string pid = std::to_string(host);
    EXPECT_TRUE(
        std::regex_match(r.out, std::regex("permission_required\n"
                                           "    host: pid " +
                                           pid +
                                           ", running since [-0-9]+ [:0-9]+ \\([0-9]+ s ago\\)\n"
                                           "  status: accessibility no, screen recording no; " +
                                           at("status.json") +
                                           " written [0-9.]+ s ago\n"
                                           "  driver: accepts connections on " +
                                           at("driver.sock") +
                                           "\n"
                                           "     log: " +
                                           at("desktop.log") +
                                           " ends \\(quorvactl logs for more\\):\n"
                                           "          vov-driver \\(stand-in\\) [^\n]*\n")))
        << r.out;
    // Only the exit status, or only the pid, checked to be the host.
    for (const auto& [args, exit, out] :
         {std::tuple(std::vector<std::string>{"status", "-q"}, 2, std::string()),
          {{"is-running"}, 0, ""},
          {{"pid"}, 0, pid + "\n"}}) {
        std::vector<std::string> argv = args;
        argv.insert(argv.end(), {"--home", home});
        r = run(argv);
        EXPECT_EQ(std::tuple(r.exit(), r.out, r.err), std::tuple(exit, out, "")) << args[0];
    }
    EXPECT_EQ(test::processesMentioning(home, "quorva-desktop"), std::vector<pid_t>{host});
    // Detached: a session of its own, and no hold on the caller's working folder.
    EXPECT_EQ(::getsid(host), host);
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(host) + "/cwd"), "/");
    r = run(json);
    EXPECT_EQ(r.out,
              R"({"accessibility":false,"bundle_id":"com.quorva.desktop","host_pid":)" +
                  std::to_string(host) +
                  R"(,"owner":"Quorva","screen_recording":false,"status":"permission_required",)"
                  R"("running":true,"stale":false})"
                  "\n");

    // What the host wrote passes the schema; each way of breaking it does not.
    EXPECT_EQ(validate({at("status.json")}), 0);
    const std::string real = test::readFile(at("status.json"));
    const std::pair<std::string, std::string> breaks[] = {{"\"permission_required\"", "\"ready\""},
                                                          {"\"owner\":\"Quorva\",", ""},
                                                          {"{", "{\"version\":1,"},
                                                          {"\"host_pid\":", "\"host_pid\":-"}};
    for (const auto& [from, to] : breaks) {
        std::string broken = real;
        broken.replace(broken.find(from), from.size(), to);
        test::writeFile(tmp / "broken.json", broken);
        EXPECT_EQ(validate({tmp / "broken.json"}), 1) << broken;
    }

    ::kill(host, SIGTERM);
    ASSERT_TRUE(test::waitFor([&] { return run(ask).exit() == 3; }));
    r = run(json);
    EXPECT_NE(r.out.find("\"host_pid\":" + std::to_string(host) + ","), std::string::npos);
    EXPECT_NE(r.out.find("\"running\":false,"), std::string::npos) << r.out;
    const auto waited = Clock::now();
    EXPECT_EQ(run({"status", "--wait", "running", "--timeout", "0.3", "--home", home}).exit(), 3);
    EXPECT_GE(Clock::now() - waited, 300ms);
}

TEST_F(Ctl, UnderXvfbReadyAndPermissionsConsumesItsTriggerAndShowsTheWindow) {
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    env.push_back("DISPLAY=" + x.display());
    const auto windows = [&] {
        const std::string cmd =
            "DISPLAY=" + x.display() + " xwininfo -root -tree | grep -c '\"Quorva permissions\"'";
        std::unique_ptr<FILE, int (*)(FILE*)> p(::popen(cmd.c_str(), "r"), ::pclose);
        int n = 0;
        return std::fscanf(p.get(), "%d", &n) == 1 ? n : 0;
    };
    ASSERT_EQ(run({"start", "--english", "--home", home}).exit(), 0);
    Result r = run({"status", "--wait", "ready", "--home", home});
    EXPECT_EQ(r.exit(), 0);
    EXPECT_TRUE(r.out.starts_with("ready\n    host: pid ")) << r.out;
    EXPECT_EQ(validate({at("status.json")}), 0);
    EXPECT_EQ(windows(), 0);

    r = run({"permissions", "--home", home});
    EXPECT_EQ(std::tuple(r.exit(), r.out, r.err), std::tuple(0, "", ""));
    EXPECT_FALSE(test::pathExists(at("show-permissions")));
    EXPECT_TRUE(test::waitFor([&] { return windows() > 0; }, 5s));
    const int before = windows();
    // No host yet: one is started that shows its window.
    const std::string second = tmp / "second";
    EXPECT_EQ(run({"permissions", "--english", "--home", second}).exit(), 0);
    EXPECT_TRUE(status(second).running);
    EXPECT_TRUE(test::waitFor([&] { return windows() > before; }, 5s));
}

TEST_F(Ctl, TwoStartsAtOnceLeaveOneHostAndOneDriver) {
    for (int round = 0; round < 3; ++round) {
        const std::string h = tmp / ("home" + std::to_string(round));
        auto a = spawn({"start", "--home", h});
        auto b = spawn({"start", "--home", h});
        EXPECT_EQ(a.wait(20s), 0);
        EXPECT_EQ(b.wait(20s), 0);
        const auto count = [&](const char* name) {
            return test::processesMentioning(h, name).size();
        };
        // A losing host ends at once; give it that moment before counting.
        test::waitFor([&] { return count("quorva-desktop") == 1 && count("vov-driver") == 1; }, 2s);
        EXPECT_EQ(count("quorva-desktop"), 1u) << round;
        EXPECT_EQ(count("vov-driver"), 1u) << round;
        EXPECT_TRUE(status(h).running);
    }
}

// Each program notes its pid; `hold` registers that pid while it runs.
TEST_F(Ctl, HoldRegistersCommandAndPassesOnItsStatusAndSignals) {
    struct Case {
        std::string script;
        int signal;
        int waitStatus;
    };
    const std::string note = "echo $$ > '" + tmp / "pid" + "'; ";
    const Case cases[] = {
        {note + "sleep 1.5; exit 7", 0, 7 << 8},
        // The trap is set before the pid is told, so the signal cannot come first.
        {"trap 'exit 42' TERM; " + note + "while :; do sleep 0.05; done", SIGTERM, 42 << 8},
        {note + "exec sleep 100", SIGTERM, SIGTERM},
        {note + "exec sleep 100", SIGUSR1, SIGUSR1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        std::filesystem::remove(tmp / "pid");
        auto holder = spawn({"hold", "--home", home, "--", "/bin/sh", "-c", c.script});
        ASSERT_TRUE(test::waitFor([&] { return !test::readFile(tmp / "pid").empty(); }));
        const std::string entry =
            at("clients/" + std::to_string(std::stoi(test::readFile(tmp / "pid"))));
        EXPECT_TRUE(test::waitFor([&] { return test::pathExists(entry); }, 2s));
        if (c.signal) holder.kill(c.signal);
        EXPECT_EQ(holder.wait(), c.waitStatus);
        EXPECT_EQ(std::filesystem::is_empty(home + "/desktop/clients"), true);
        EXPECT_TRUE(status().running);
    }
}

TEST_F(Ctl, ErrorsAreOneLineNamingTheCause) {
    test::writeFile(tmp / "file", "");
    std::filesystem::create_directory(tmp / "two\nlines");
    test::writeFile(tmp / "two\nlines/file", "");
    test::writeFile(tmp / "script", "#!/nonexistent/sh\n", 0755);
    std::filesystem::create_symlink(tmp / "nothing", tmp / "dangling");
    std::filesystem::create_directory(tmp / "lone");
    std::filesystem::copy_file(QUORVA_TEST_CTL, tmp / "lone/quorvactl");
    struct Case {
        std::vector<std::string> args;
        int exit;
        std::string cause;
    };
    const Case cases[] = {
        {{"wait-driver", "--home", home, "--timeout", "0.3"}, 1, "within 0.3 s"},
        {{"start", "--home", tmp / "file/home"}, 1, tmp / "file is not a folder"},
        {{"start", "--home", tmp / "dangling"}, 1, tmp / "dangling is a link to nothing"},
        {{"status", "--timeout", "soon"}, 1, "--timeout takes seconds (like 5 or 0.5), not 'soon'"},
        {{"status", "--timeout", "0x10"}, 1, "not '0x10'"},
        {{"status", "--timeout= 5"}, 1, "not ' 5'"},
        {{"wait-driver", "--timeout", "1e1"}, 1, "not '1e1'"},
        {{"logs", "-n", "-1"}, 1, "-n takes a number of lines or all, not '-1'"},
        {{"logs", "-fn"}, 1, "-n needs a value"},
        {{"logs", "--follow=yes"}, 1, "--follow takes no value"},
        {{"status", "--h"}, 1, "ambiguous option '--h'"},
        {{"status", "now"}, 1, "unexpected argument 'now'"},
        // A path or a word with a line end in it stays on its line.
        {{"start", "--home", tmp / "two\nlines/file/home"}, 1, "lines/file' is not a folder"},
        {{"logs", "--home", tmp / "two\nlines"}, 1, "no log yet at"},
        {{"re\nboot"}, 1, "unknown command 're\\x0aboot'"},
        {{"status", "--english"}, 1, "unknown option '--english'"},
        {{"reboot"}, 1, "unknown command 'reboot'"},
        {{"hold"}, 125, "hold needs a command"},
        {{"hold", "--home", tmp / "file/home", "--", "true"}, 125, "is not a folder"},
        {{"hold", "--home", home, "--", tmp / "no-such-program"}, 127, "cannot run"},
        {{"hold", "--home", home, "--", tmp / "script"}, 126, "interpreter or loader is missing"},
    };
    for (const auto& c : cases) {
        const Result r = run(c.args);
        EXPECT_EQ(r.exit(), c.exit) << c.args[0] << " " << r.err;
        EXPECT_NE(r.err.find(c.cause), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(r.err.starts_with("quorvactl")) << r.err;
    }
    // Installed nowhere and not on PATH.
    env = test::environmentWith({"PATH=/nonexistent"}, {"DISPLAY"});
    auto lone =
        test::spawnProcess({tmp / "lone/quorvactl", "start", "--home", tmp / "h"}, env, tmp.path());
    EXPECT_EQ(WEXITSTATUS(lone.wait()), 1);
    EXPECT_EQ(test::readFile(lone.errPath),
              "quorvactl start: no host binary: quorva-desktop is neither installed beside this "
              "program nor on PATH\n");
}

}  // namespace
