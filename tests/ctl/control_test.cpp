// quorvactl's stop, restart, logs and doctor, and start where it must fail,
// against the real host.
#include <gmock/gmock.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "ctl/ctl_fixture.h"

namespace {

using namespace ctl;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// Hosts run detached, and whoever inherits them may leave them zombies.
bool alive(pid_t pid) {
    const std::string stat = test::readFile("/proc/" + std::to_string(pid) + "/stat");
    return !stat.empty() && stat.find(") Z ") == std::string::npos;
}

TEST_F(Ctl, StopEndsOnlyTheLockHolderAndRestartStartsAnother) {
    // As systemctl stop of a unit that does not run: done already.
    Result r = run({"stop", "--home", home});
    EXPECT_EQ(std::tuple(r.exit(), r.out, r.err),
              std::tuple(0, "", "quorvactl stop: not running\n"));
    // As systemctl restart of a unit that does not run: it is started.
    r = run({"restart", "--home", home});
    ASSERT_EQ(std::tuple(r.exit(), r.out, r.err, status().running), std::tuple(0, "", "", true));
    const int first = status().hostPid;
    r = run({"restart", "--home", home});
    EXPECT_EQ(std::tuple(r.exit(), r.out, r.err), std::tuple(0, "", ""));
    const int second = status().hostPid;
    EXPECT_NE(second, first);
    EXPECT_FALSE(alive(first));
    // A host that cannot write its status any more: the file goes stale.
    ASSERT_TRUE(std::filesystem::create_directory(at(".status.json.tmp")));
    std::this_thread::sleep_for(1100ms);
    std::filesystem::last_write_time(at("status.json"),
                                     std::filesystem::file_time_type::clock::now() - 4s);
    r = run({"status", "--home", home});
    EXPECT_EQ(r.exit(), 4);
    EXPECT_TRUE(r.out.starts_with("stale: the running host (pid " + std::to_string(second)))
        << r.out;
    EXPECT_NE(run({"doctor", "--home", home}).out.find("FAIL status: stale"), std::string::npos);
    // Out of descriptors, whether the host runs cannot be told: never guessed.
    // (Descriptors the test runner left open are closed first.)
    const std::string closeAllButThree =
        "for fd in /proc/$$/fd/*; do n=${fd##*/}; ((n > 2)) && eval \"exec $n>&-\"; done; "
        "exec /usr/bin/prlimit --nofile=4 \"$@\"";
    for (const char* command : {"status", "stop"}) {
        r = exec({"/bin/bash", "-c", closeAllButThree, "bash", QUORVA_TEST_CTL, command, "--home",
                  home});
        EXPECT_EQ(r.exit(), 1) << command;
        EXPECT_NE(r.err.find("Too many open files"), std::string::npos) << r.err;
    }
    // A host that does not quit is waited for until --timeout, then it is said.
    ::kill(second, SIGSTOP);
    r = run({"stop", "--home", home, "--timeout", "0.5"});
    EXPECT_EQ(r.exit(), 1);
    EXPECT_NE(r.err.find("still holds " + home + " 0.5 s after SIGTERM"), std::string::npos);
    ::kill(second, SIGCONT);
    EXPECT_TRUE(test::waitFor([&] { return !alive(second); }, 5s)) << "SIGTERM not sent";
    EXPECT_TRUE(
        test::waitFor([&] { return test::processesMentioning(home, "vov-driver").empty(); }, 3s));
    EXPECT_EQ(run({"stop", "--home", home}).exit(), 0);
}

// A driver that takes a moment to end on SIGTERM: stop returns once it has,
// so restart never has two drivers of one home at once.
TEST_F(Ctl, StopReturnsOnceTheHostAndItsDriverHaveEnded) {
    std::filesystem::create_directory(tmp / "bin");
    std::filesystem::copy_file(QUORVA_TEST_CTL, tmp / "bin/quorvactl");
    const std::string app = test::copyAppFolder(tmp.path());
    const std::string driver = app + "/Resources/vov-driver";
    std::filesystem::rename(driver, driver + ".real");
    test::writeFile(driver,
                    "#!/bin/sh\n\"$0.real\" \"$@\" & trap 'sleep 0.5; kill $!; wait; exit 0' TERM\n"
                    "wait\n",
                    0755);
    const auto mine = [&](const std::vector<std::string>& args) {
        std::vector<std::string> argv{tmp / "bin/quorvactl"};
        argv.insert(argv.end(), args.begin(), args.end());
        return exec(argv);
    };
    // Each driver is the script and the real one it runs.
    const auto drivers = [&] { return test::processesMentioning(driver).size(); };
    ASSERT_EQ(mine({"start", "--home", home}).exit(), 0);
    ASSERT_EQ(drivers(), 2u);
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(mine({"restart", "--home", home}).exit(), 0);
        EXPECT_EQ(drivers(), 2u) << round;
    }
    const Result r = mine({"stop", "--home", home});
    EXPECT_EQ(std::tuple(r.exit(), r.err), std::tuple(0, ""));
    EXPECT_EQ(drivers(), 0u) << "stop returned before the driver ended";
}

// The driver says why and ends at once, or 0.3 s after its start: each start
// reports it with the log's last line, and starts the host once.
TEST_F(Ctl, StartAndHoldReportAHostWhoseDriverEndsAndStartItOnce) {
    std::filesystem::create_directory(tmp / "bin");
    std::filesystem::copy_file(QUORVA_TEST_CTL, tmp / "bin/quorvactl");
    const std::string app = test::copyAppFolder(tmp.path());
    const auto mine = [&](std::vector<std::string> args) {
        return args.insert(args.begin(), tmp / "bin/quorvactl"), exec(args);
    };
    const auto runs = [&] { return test::readFile(tmp / "runs").size() / 4; };
    std::size_t expected = 0;
    for (const std::string pause : {"sleep 0.3", ":"}) {
        SCOPED_TRACE(pause);
        test::writeFile(app + "/Resources/vov-driver",
                        "#!/bin/sh\necho run >> '" + tmp / "runs" +
                            "'\necho 'cannot open the display'\n" + pause + "\nexit 3\n",
                        0755);
        for (int round = 0; round < 5; ++round) {
            const Result r = mine({"start", "--home", home});
            EXPECT_EQ(r.exit(), 1);
            for (const auto& part :
                 {"ended with exit status 0 before its driver accepted connections",
                  "desktop.log, which ends \"cannot open the display\""})
                EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
            EXPECT_EQ(runs(), ++expected) << round;
        }
        const Result r = mine({"hold", "--home", home, "--", "touch", tmp / "ran"});
        EXPECT_EQ(r.exit(), 125) << r.err;
        EXPECT_FALSE(test::pathExists(tmp / "ran"));
        EXPECT_EQ(runs(), ++expected);
    }
    // No host can serve a socket path this long: none is started, nothing is made.
    const std::string deep = tmp / std::string(100, 'd');
    const Result r = mine({"hold", "--home", deep, "--", "touch", tmp / "ran"});
    EXPECT_EQ(r.exit(), 125);
    EXPECT_NE(r.err.find("too long for a Unix socket"), std::string::npos) << r.err;
    EXPECT_EQ(runs(), expected);
    EXPECT_FALSE(test::pathExists(deep)) << "hold made the home before it failed";
}

// Two tmpfs homes give their runtime folders the same inode; only the
// device tells them apart. Mounting needs a namespace of our own, which
// Debian lets any user make.
TEST_F(Ctl, AnotherHomesHostIsNotOursOnTheSameInode) {
    const std::string ctl = QUORVA_TEST_CTL, a = tmp / "a", b = tmp / "b";
    const std::string script =
        "set -e; mkdir " + a + " " + b + "; mount -t tmpfs a " + a + "; mount -t tmpfs b " + b +
        "; mkdir " + a + "/desktop; " + ctl + " start --home " + b + "; cp " + b +
        "/desktop/status.json " + a + "/desktop/; stat -c %i " + a + "/desktop " + b +
        "/desktop; " + ctl + " status -q --home " + a + " || echo $?; " + ctl +
        " status -q --home " + b + " || echo $?; " + ctl + " stop --home " + b + " && echo stopped";
    const std::vector<std::string> unshare{"/usr/bin/unshare", "--user",  "--map-root-user",
                                           "--mount",          "/bin/sh", "-c"};
    // A chroot and many containers refuse user namespaces: nothing to test there.
    const Result can = exec({unshare[0], unshare[1], unshare[2], unshare[3], "true"});
    if (can.status != 0) GTEST_SKIP() << "user namespaces are refused here: " << can.err;
    auto argv = unshare;
    argv.push_back(script);
    const Result r = exec(argv);
    EXPECT_EQ(r.err, "");
    std::istringstream out(r.out);
    std::string inodeA, inodeB, rest;
    std::getline(out, inodeA);
    std::getline(out, inodeB);
    ASSERT_EQ(inodeA, inodeB) << r.out;
    std::getline(out, rest, '\0');
    EXPECT_EQ(rest, "3\n2\nstopped\n");
}

TEST_F(Ctl, LogsPrintsTheEndAndFollows) {
    const std::string log = at("desktop.log");
    std::filesystem::create_directories(home + "/desktop");
    std::string twelve;
    for (int i = 1; i <= 12; ++i) twelve += "line " + std::to_string(i) + "\n";
    test::writeFile(log, twelve, 0600);
    EXPECT_EQ(run({"logs", "--home", home}).out, twelve.substr(twelve.find("line 3")));
    // Options as getopt users write them, before the command too.
    for (const std::vector<std::string>& two :
         {std::vector<std::string>{"logs", "--home", home, "-n", "2"},
          {"logs", "-n2", "--home=" + home},
          {"logs", "--lines=2", "--home", home},
          {"--home", home, "logs", "--li", "2"},
          {"logs", "--home", home, "-n", "1", "-n2"}})
        EXPECT_EQ(run(two).out, "line 11\nline 12\n") << two[0] << " " << two[1];
    EXPECT_EQ(run({"logs", "--home", home, "-n", "all"}).out, twelve);
    EXPECT_EQ(run({"logs", "--home", home, "--lines=0"}).out, "");
    std::ofstream(log, std::ios::app) << "partial";
    EXPECT_EQ(run({"logs", "--home", home, "-n", "2"}).out, "line 12\npartial");
    auto follow = spawn({"logs", "-fn1", "--home", home});
    const auto shown = [&](const std::string& text) {
        return test::waitFor([&] { return test::readFile(follow.outPath) == text; }, 3s);
    };
    EXPECT_TRUE(shown("partial"));
    std::ofstream(log, std::ios::app) << " line\n";
    EXPECT_TRUE(shown("partial line\n"));
    // A new host run made a new log: it is followed from its start.
    test::writeFile(home + "/desktop/new", "fresh\n");
    std::filesystem::rename(home + "/desktop/new", log);
    EXPECT_TRUE(shown("partial line\nfresh\n")) << test::readFile(follow.outPath);
    // One cut short is read again from its start (written over, then cut: never longer than read).
    std::fstream(log, std::ios::in | std::ios::out) << "cut\n";
    std::filesystem::resize_file(log, 4);
    EXPECT_TRUE(shown("partial line\nfresh\ncut\n")) << test::readFile(follow.outPath);
    follow.kill(SIGINT);
    // Neither a FIFO nor a missing log is waited for without -f.
    std::filesystem::remove(log);
    EXPECT_NE(run({"logs", "--home", home}).err.find("no log yet at " + log), std::string::npos);
    ASSERT_EQ(::mkfifo(log.c_str(), 0600), 0);
    const Result r = run({"logs", "--home", home}, 5s);
    EXPECT_EQ(std::pair(r.exit(), r.err),
              std::pair(1, "quorvactl logs: " + log + " is not a regular file\n"));
}

TEST_F(Ctl, DoctorSaysWhatIsWrongAndWhatToDo) {
    test::Xvfb x, stopped, noXTest({"-extension", "XTEST"});
    ASSERT_TRUE(x.ok() && stopped.ok() && noXTest.ok());
    stopped.kill(SIGSTOP);
    const std::string open = tmp / "open";
    std::filesystem::create_directories(open + "/desktop");
    std::filesystem::permissions(open + "/desktop", std::filesystem::perms::all);
    const auto doctor = [&](const std::string& where, const std::vector<std::string>& vars) {
        env = test::environmentWith(vars, {"DISPLAY", "WAYLAND_DISPLAY"});
        const auto began = Clock::now();
        const Result r = run({"doctor", "--home", where});
        EXPECT_LT(Clock::now() - began, 5s) << "a stopped X server held it up";
        EXPECT_EQ(r.exit(), 1);
        return "\n" + r.out;
    };
    const std::string none = doctor(home, {}), noX = doctor(home, {"DISPLAY=" + noXTest.display()});
    for (const auto& line : {"FAIL home: " + home + " does not exist: quorvactl start makes it",
                             std::string("FAIL host: not running: start one with quorvactl start"),
                             std::string("FAIL DISPLAY: not set")})
        EXPECT_THAT(none, HasSubstr("\n" + line));
    EXPECT_THAT(doctor(open, {}), HasSubstr("\nFAIL runtime folder: " + open + "/desktop can be "));
    EXPECT_THAT(doctor(home, {"DISPLAY=" + x.display(), "WAYLAND_DISPLAY=w"}),
                HasSubstr("\nFAIL session: Wayland"));
    EXPECT_THAT(doctor(home, {"DISPLAY=" + stopped.display()}),
                HasSubstr("\nFAIL X server: " + stopped.display() + " does not answer"));
    // The look at a silent server is a process of its own, gone with the answer, and gone
    // with a doctor killed in the middle of it.
    EXPECT_THAT(test::processesMentioning(home), IsEmpty());
    const std::string killed = tmp / "killed";
    env = test::environmentWith({"DISPLAY=" + stopped.display()}, {"WAYLAND_DISPLAY"});
    const auto looking = spawn({"doctor", "--home", killed});
    ASSERT_TRUE(test::waitFor([&] { return test::processesMentioning(killed).size() == 2; }, 3s));
    looking.kill(SIGKILL);
    EXPECT_TRUE(test::waitFor([&] { return test::processesMentioning(killed).empty(); }, 2s));
    EXPECT_THAT(doctor(home, {"DISPLAY=:4095"}), HasSubstr("\nFAIL X server: cannot connect to"));
    EXPECT_THAT(noX, HasSubstr("\nFAIL XTEST: not offered"));
    EXPECT_THAT(noX, HasSubstr("\nok   root window: readable"));
    stopped.kill(SIGCONT);
    // What counts is the display the host sees, not this shell's.
    env = test::environmentWith({}, {"DISPLAY", "WAYLAND_DISPLAY"});
    ASSERT_EQ(run({"start", "--home", home}).exit(), 0);
    env = test::environmentWith({"DISPLAY=" + x.display()}, {"WAYLAND_DISPLAY"});
    EXPECT_NE(run({"doctor", "--home", home}).out.find("FAIL DISPLAY: not set (the host's)"),
              std::string::npos);
    // All well: a host on a display with both permissions, its driver serving.
    ASSERT_EQ(run({"restart", "--home", home}).exit(), 0);
    ASSERT_EQ(run({"status", "--wait", "ready", "--home", home}).exit(), 0);
    const Result r = run({"doctor", "--home", home});
    EXPECT_EQ(r.exit(), 0) << r.out;
    std::string lines = "\n" + r.out;
    EXPECT_EQ(std::regex_replace(lines, std::regex("\nok   [^\n]*"), "").find("\nlog: "), 0u)
        << "the ten checks are not all ok:" << r.out;
    EXPECT_NE(r.out.find("serving " + at("driver.sock")), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("host: running as pid " + std::to_string(status().hostPid) + " since "),
              std::string::npos);
}

// Each command and option of the tool, read from its own help, is offered
// by both completions and documented in the manual page.
TEST_F(Ctl, CompletionsAndManualPageKnowEveryCommandAndOption) {
    const std::string dir = QUORVA_TEST_SOURCE_DIR "/../packaging";
    const auto words = [](const std::string& text, const std::string& pattern) {
        std::set<std::string> out;
        const std::regex word(pattern);
        for (std::sregex_iterator m(text.begin(), text.end(), word), end; m != end; ++m)
            out.insert((*m)[1]);
        return out;
    };
    const auto options = [&](const std::string& text) {
        auto out = words(text, R"((?:^|[\s\[(),])(--?[a-z][-a-z]*))");
        out.insert("--help");
        return out;
    };
    const std::string bash =
        ". " + dir +
        "/completions/quorvactl.bash; COMP_WORDS=(quorvactl $0 \"$1\"); COMP_CWORD=$2; "
        "_quorvactl; printf '%s\\n' \"${COMPREPLY[@]}\"";
    const std::string zsh = "fpath=(" + dir +
                            "/completions $fpath); autoload -Uz _quorvactl; "
                            "_arguments() { print -l -- \"$@\" }; words=(quorvactl $0 ''); "
                            "CURRENT=3; _quorvactl";
    EXPECT_EQ(run({"--version"}).out, "quorvactl 0.1.0\n");
    auto commands = words(run({"--help"}).out, R"(\n  ([a-z-]+) )");
    ASSERT_EQ(commands.size(), 12u);
    const std::string page = test::readFile(dir + "/quorvactl.1");
    const auto section = [&](const std::string& name) {
        const std::string from = page.substr(page.find(".SH " + name));
        return from.substr(0, from.find("\n.SH", 1));
    };
    const std::string manual = section("COMMANDS"), exits = section("EXIT STATUS");
    // A command's own options, as the page writes them (roff escapes each "-").
    const auto documented = [&](const std::string& command) {
        std::string text = manual.substr(manual.find("\n.B " + command + "\n"));
        text = text.substr(0, text.find("\n.TP", 1)) + section("OPTIONS");
        return options(std::regex_replace(text, std::regex(R"(\\-)"), "-"));
    };
    for (const auto& command : commands) {
        SCOPED_TRACE(command);
        const Result help = run({command, "--help"});
        EXPECT_TRUE(help.exit() == 0 && help.out.starts_with("usage: quorvactl " + command + " "));
        std::set<std::string> own = options(help.out);
        EXPECT_EQ(options(exec({"/bin/zsh", "-c", zsh, command}).out), own);
        if (command == "hold") own.insert("--");
        EXPECT_EQ(words(exec({"/bin/bash", "-c", bash, command, "-", "2"}).out, "(.+)"), own);
        ASSERT_NE(manual.find("\n.B " + command + "\n"), std::string::npos);
        for (const auto& option : own)
            if (option != "--") {
                EXPECT_TRUE(documented(command).count(option)) << option;
            }
        // Each command's exit status is there, as its help says it.
        EXPECT_NE(help.out.find("Exit status"), std::string::npos);
        EXPECT_NE(exits.find(".B " + command + "\n"), std::string::npos);
    }
    commands.insert({"--help", "--version"});
    EXPECT_EQ(words(exec({"/bin/bash", "-c", bash, "", "", "1"}).out, "(.+)"), commands);
}

}  // namespace
