// The built host end to end, from a private copy of the app folder and a home not yet made.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <set>
#include <sstream>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Names = std::set<std::string>;

class Host : public ::testing::Test {
  public:
    test::TempDir tmp;
    const std::string app = test::copyAppFolder(tmp.path());
    std::string home = tmp / "new/home";

    // Drivers outlive the host by design: kill whichever one this test started.
    ~Host() override { ::kill(driverPid(), SIGKILL); }
    std::string at(const std::string& name) const { return home + "/desktop/" + name; }
    bool exists(const std::string& name) const { return test::pathExists(at(name)); }
    std::string read(const std::string& name) const { return test::readFile(at(name)); }
    std::string log() const { return read("desktop.log"); }
    static bool has(std::string_view s, std::string_view part) { return s.find(part) != s.npos; }
    static Names namesIn(const std::string& folder) {
        Names names;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(folder, ec)) names.insert(e.path().filename());
        return names;
    }

    // Replaces the driver with a script that records its pid and works in `tmp`.
    void scriptDriver(const std::string& body) {
        test::writeFile(app + "/Resources/vov-driver",
                        "#!/bin/sh\ncd '" + tmp.path() + "' && echo $$ > pid\n" + body, 0755);
    }
    pid_t driverPid() const {
        int pid = 1 << 30;  // no such process
        if (std::sscanf(test::readFile(tmp / "pid").c_str(), "%d", &pid) != 1)
            std::sscanf(log().c_str(), "vov-driver (stand-in) %d:", &pid);
        return pid;
    }

    // Via a shell running `shell` first ("$1" is the home), with no display unless it sets one.
    test::Process start(const std::string& args = "", const std::string& shell = ":") {
        const std::string script = "unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM; " + shell;
        return test::spawnProcess({"/bin/sh", "-c", script + "; exec \"$0\" --home \"$1\" " + args,
                                   app + "/bin/quorva-desktop", home},
                                  test::environmentWith({}), tmp.path());
    }
    // The host ended by itself (not by a signal or timeout) and printed nothing.
    static void expectQuietExit(test::Process& host, std::chrono::milliseconds timeout = 5s) {
        EXPECT_TRUE(WIFEXITED(host.wait(timeout))) << "still running or killed by a signal";
        EXPECT_EQ(test::readFile(host.outPath) + test::readFile(host.errPath), "");
    }
};

// The driver must not inherit the host's fd 7; its shell holds one more until it execs sleep.
TEST_F(Host, DriverContractAndClientRoadWithoutDisplay) {
    scriptDriver("printf '%s\\n' \"$@\" > args; env -0 > env; exec sleep 1000\n");
    auto host = start("",
                      "trap '' HUP; exec 7</dev/null; export PATH=/bin api_key=l X_VOV_DRIVER_Y=y "
                      "API_KEY=k SERVICE_API_KEY=s VOV_DRIVER_TELEMETRY=1");
    const auto fds = [&] { return namesIn("/proc/" + std::to_string(driverPid()) + "/fd"); };
    EXPECT_TRUE(test::waitFor([&] { return fds() == Names{"0", "1", "2"}; })) << fds().size();
    // The host keeps an inherited ignored SIGHUP; the driver starts with every default.
    const std::string status0 = test::readFile("/proc/" + std::to_string(driverPid()) + "/status");
    const auto ignored = std::stoull(status0.substr(status0.find("SigIgn:") + 7), nullptr, 16);
    EXPECT_EQ(ignored & (1ull << (SIGHUP - 1)), 0u) << status0;
    EXPECT_EQ(test::readFile(tmp / "args"), "serve\n--embedded\n--socket\n" + at("driver.sock") +
                                                "\n--permission-mode\nstandard\n");
    Names seen, vov;
    std::istringstream in(test::readFile(tmp / "env"));
    for (std::string e; std::getline(in, e, '\0');) (e.starts_with("VOV_") ? vov : seen).insert(e);
    for (auto e : {"PATH=/bin", "api_key=l", "X_VOV_DRIVER_Y=y"}) EXPECT_TRUE(seen.count(e)) << e;
    for (auto e : {"API_KEY=k", "SERVICE_API_KEY=s"}) EXPECT_FALSE(seen.count(e)) << e;
    EXPECT_EQ(vov, (Names{"VOV_DRIVER_EMBEDDED=1", "VOV_DRIVER_HOST_BUNDLE_ID=" QUORVA_BUNDLE_ID,
                          "VOV_DRIVER_PERMISSION_MODE=standard", "VOV_DRIVER_TELEMETRY=0"}));

    const std::string live = std::to_string(::getpid()),
                      dead = std::to_string(test::spawnProcess({"/bin/true"}, {}, tmp.path()).pid);
    for (const auto& name : Names{live, dead, "abc"}) test::writeFile(at("clients/" + name), "");
    EXPECT_TRUE(test::waitFor([&] { return namesIn(at("clients")) == Names{live}; }, 3s));
    EXPECT_FALSE(test::waitFor([&] { return namesIn(at("clients")) != Names{live}; }, 1200ms));
    std::string status = read("status.json");
    status.replace(status.find('}'), 1, ",");  // so that every member ends in a comma
    EXPECT_TRUE(has(status, "\"status\":\"permission_required\",")) << status;
    EXPECT_TRUE(has(status, "\"host_pid\":" + std::to_string(host.pid) + ",")) << status;
    host.kill(SIGTERM);
    expectQuietExit(host);
}

// A driver that exits 0 ends the host, which removes the socket path (a plain file here).
TEST_F(Host, FoldersArePrivateUnderAnyUmaskAndTheLogOnlyGrows) {
    scriptDriver("echo a; echo b >&2; : > \"$4\"; echo c\n");
    for (int run = 0; run < 2; ++run) {
        auto host = start("", "umask 0277");
        expectQuietExit(host);
        EXPECT_FALSE(exists("driver.sock"));
    }
    for (const auto& folder : {tmp / "new", home, home + "/desktop", at("clients")})
        EXPECT_EQ(test::modeOf(folder), 0700u) << folder;
    EXPECT_EQ(test::modeOf(at("desktop.log")), 0600u);
    EXPECT_EQ(log(), "a\nb\nc\na\nb\nc\n");
}

TEST_F(Host, FailedStartsEndQuietlyWithoutDriverOrStatus) {
    scriptDriver("exec sleep 1000\n");  // records its pid if it ever runs
    // A shell command on a fresh home, and the host's arguments; a removed driver stays removed.
    const std::vector<std::pair<std::string, std::string>> cases{
        {"mkdir -p \"$1/desktop/desktop.log\"", ""},
        {"mkdir -p \"$1/desktop\" && mkfifo \"$1/desktop/desktop.log\"", ""},  // no reader
        {"mkdir -p \"$1\" && : > \"$1/desktop\"", ""},
        {"rm " + app + "/Resources/vov-driver", ""},
        {":", "--permissions --english"}};
    for (const auto& [shell, args] : cases) {
        SCOPED_TRACE(shell);
        auto host = start(args, "rm -rf \"$1\"; " + shell);
        expectQuietExit(host);
        EXPECT_FALSE(test::pathExists(tmp / "pid")) << "driver was started";
        EXPECT_FALSE(exists("status.json"));
    }
}

// This driver notes SIGTERM but keeps running: the host must not wait for it.
TEST_F(Host, QuitSignalsStopDriverAndRemoveSocketPathOnly) {
    scriptDriver("trap 'echo got TERM' TERM\n: > \"$4\"\nwhile :; do sleep 0.1; done\n");
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(sigabbrev_np(sig));
        auto host = start("", "rm -rf \"$1\"");
        ASSERT_TRUE(test::waitFor([&] { return exists("driver.sock") && exists("status.json"); }));
        const std::string status = read("status.json");
        host.kill(sig);
        expectQuietExit(host, 3s);
        EXPECT_TRUE(test::waitFor([&] { return log() == "got TERM\n"; }, 3s)) << log();
        EXPECT_EQ(::kill(driverPid(), 0), 0) << "driver ended";
        EXPECT_FALSE(exists("driver.sock"));
        EXPECT_EQ(read("status.json"), status);
        ::kill(driverPid(), SIGKILL);
    }
}

// Ends with an X logout: Qt ends the process itself when the display goes away.
TEST_F(Host, UnderXServerReadyWindowOnRequestAndLostDisplayStopsDriver) {
    auto x = std::make_unique<test::Xvfb>();
    ASSERT_TRUE(x->ok());
    const std::string findWindow =
        "DISPLAY=" + x->display() + " xwininfo -root -tree | grep -q '\"Quorva permissions\"'";
    auto host = start("--english", "export DISPLAY=" + x->display());
    ASSERT_TRUE(test::waitFor([&] { return has(log(), ": serving " + at("driver.sock") + "\n"); }));
    EXPECT_TRUE(test::waitFor([&] { return has(read("status.json"), "\"status\":\"ready\""); }));
    EXPECT_NE(std::system(findWindow.c_str()), 0);
    test::writeFile(at("show-permissions"), "");
    EXPECT_TRUE(test::waitFor([&] { return !exists("show-permissions"); }, 3s));
    EXPECT_TRUE(test::waitFor([&] { return std::system(findWindow.c_str()) == 0; }, 5s));
    x.reset();
    expectQuietExit(host);
    EXPECT_TRUE(test::waitFor([&] { return has(log(), ": stopping\n"); }, 3s)) << log();
    EXPECT_FALSE(exists("driver.sock"));
}

// Nothing attends this host, so it ends at the first tick more than a minute after start.
TEST_F(Host, SlowIdleHostEndsAfterAMinuteAndStopsDriver) {
    const auto started = std::chrono::steady_clock::now();
    auto host = start();
    expectQuietExit(host, 64s);
    EXPECT_GT(std::chrono::steady_clock::now() - started, 60s);
    EXPECT_TRUE(test::waitFor([&] { return has(log(), ": stopping\n"); }, 3s)) << log();
    EXPECT_FALSE(exists("driver.sock"));
}

}  // namespace
