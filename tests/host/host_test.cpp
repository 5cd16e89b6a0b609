// The built host end to end, from a private copy of the app folder and a home not yet made.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

using Host = test::HostTest;
using test::Names, test::namesIn;

// The driver must not inherit the host's fd 3; its shell holds one more until it execs sleep.
TEST_F(Host, DriverContractAndClientRoadWithoutDisplay) {
    scriptDriver("printf '%s\\n' \"$@\" > args; env -0 > env; exec sleep 1000\n");
    auto host = start("",
                      "trap '' HUP; exec 3</dev/null; export PATH=/bin api_key=l X_VOV_DRIVER_Y=y "
                      "API_KEY_FILE=f vov_driver_mode=v API_KEY=k SERVICE_API_KEY=s MY_API_KEY=m "
                      "VOV_DRIVER_SOCKET=s VOV_DRIVER_TELEMETRY=1");
    const auto fds = [&] { return namesIn("/proc/" + std::to_string(driverPid()) + "/fd"); };
    EXPECT_TRUE(test::waitFor([&] { return fds() == Names{"0", "1", "2"}; })) << fds().size();
    // The host keeps an inherited ignored SIGHUP; the driver starts with every default.
    const auto ignoresHup = [](pid_t pid) {
        const std::string status = test::readFile("/proc/" + std::to_string(pid) + "/status");
        return (std::stoull(status.substr(status.find("SigIgn:") + 7), nullptr, 16) >>
                (SIGHUP - 1)) &
               1;
    };
    EXPECT_TRUE(ignoresHup(host.pid));
    EXPECT_FALSE(ignoresHup(driverPid()));
    EXPECT_EQ(test::readFile(tmp / "args"), "serve\n--embedded\n--socket\n" + at("driver.sock") +
                                                "\n--permission-mode\nstandard\n");
    Names seen, vov;
    std::istringstream in(test::readFile(tmp / "env"));
    for (std::string e; std::getline(in, e, '\0');) (e.starts_with("VOV_") ? vov : seen).insert(e);
    for (auto e :
         {"PATH=/bin", "api_key=l", "X_VOV_DRIVER_Y=y", "API_KEY_FILE=f", "vov_driver_mode=v"})
        EXPECT_TRUE(seen.count(e)) << e;
    for (auto e : {"API_KEY=k", "SERVICE_API_KEY=s", "MY_API_KEY=m"})
        EXPECT_FALSE(seen.count(e)) << e;
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
    expectEnd(host);
}

// As a user who (unlike root) needs the owner's bits, on a fresh home and then an existing one.
// An outside writer adds "c" between the driver's lines: appending keeps it. The driver then
// exits 0, which ends the host, which removes the socket path (a file here). status.json is
// the owner's to read and write; the umask decides the rest of its bits.
TEST_F(Host, FoldersArePrivateUnderAnyUmaskAndTheLogOnlyGrows) {
    scriptDriver(
        "echo a; echo b >&2; until [ -e go ]; do sleep 0.01; done; rm go; : > \"$4\"\n"
        "echo d\n");
    const std::string user = "RUN='" + asUser(61001) + "'";
    for (const char* umask : {"0777", "0477", "022"}) {
        SCOPED_TRACE(umask);
        const std::string before = test::pathExists(at("desktop.log")) ? log() : "";
        fs::remove(at("status.json"));  // the last host's stays: the mode must be this one's
        auto host = start("", user + "; umask " + umask);
        ASSERT_TRUE(
            test::waitFor([&] { return log() == before + "a\nb\n" && exists("status.json"); }));
        EXPECT_EQ(test::modeOf(at("status.json")), (0666 & ~std::stoul(umask, nullptr, 8)) | 0600);
        test::writeFile(tmp / "c", "c\n");
        ASSERT_EQ(std::system(("cat " + tmp / "c" + " >> " + at("desktop.log")).c_str()), 0);
        test::writeFile(tmp / "go", "");
        expectEnd(host);
        EXPECT_FALSE(exists("driver.sock"));
        for (const auto& folder : {tmp / "new", home, home + "/desktop", at("clients")})
            EXPECT_EQ(test::modeOf(folder), 0700u) << folder;
        EXPECT_EQ(test::modeOf(at("desktop.log")), 0600u);
    }
    EXPECT_EQ(log(), "a\nb\nc\nd\na\nb\nc\nd\na\nb\nc\nd\n");
}

// A request that cannot be removed (its host, not root, may not empty it) still brings up the
// window. Under Wayland, XWayland's answers reach no native window: nothing is held (an empty
// WAYLAND_DISPLAY names none). Ends with an X logout: Qt ends the process itself when the
// display goes away.
TEST_F(Host, UnderXServerReadyWindowOnRequestAndLostDisplayStopsDriver) {
    auto x = std::make_unique<test::Xvfb>();
    ASSERT_TRUE(x->ok());
    const std::string display = "export DISPLAY=" + x->display();
    auto host = start("--english", "RUN='" + asUser(61003) + "'; " + display);
    ASSERT_TRUE(test::waitFor([&] { return has(log(), ": serving " + at("driver.sock") + "\n"); }));
    EXPECT_TRUE(test::waitFor([&] { return has(read("status.json"), "\"status\":\"ready\""); }));
    EXPECT_FALSE(x->hasWindow("Quorva permissions"));
    fs::create_directories(at("show-permissions/stuck"));
    test::writeFile(at("show-permissions/stuck/file"), "");
    fs::permissions(at("show-permissions/stuck"), fs::perms(0500));
    EXPECT_TRUE(test::waitFor([&] { return x->hasWindow("Quorva permissions"); }, 5s));
    EXPECT_TRUE(exists("show-permissions/stuck/file"));
    const std::string firstHome = home;
    for (const auto& [wayland, held] :
         {std::pair("WAYLAND_DISPLAY=wayland-9", "permission_required"),
          {"XDG_SESSION_TYPE=wayland", "permission_required"},
          {"WAYLAND_DISPLAY= XDG_SESSION_TYPE=x11", "ready"}}) {
        home = tmp / "wayland";
        fs::remove_all(home);
        auto other = start("", display + " " + wayland);
        const std::string wanted = held;  // clang 14 captures no structured binding
        EXPECT_TRUE(test::waitFor([&] { return has(read("status.json"), wanted); })) << wayland;
        other.kill(SIGTERM);
        expectEnd(other);
    }
    home = firstHome;
    x.reset();
    expectEnd(host, 1);  // as Xlib ends a program whose display is gone
    EXPECT_TRUE(test::waitFor([&] { return has(log(), ": stopping\n"); }, 3s)) << log();
    EXPECT_FALSE(exists("driver.sock"));
}

// The second host defers to the first: no driver, nothing written or removed, exit 0; given
// --permissions, it asks the first for its window and waits until the request is taken. Should
// the first end before it does (killed, its driver with it), the request is taken back and the
// waiting host takes the home itself: no later host shows the window unasked.
TEST_F(Host, OneHostPerHomeAndNoDriverOutlivesItsHost) {
    const auto serving = [&] {
        std::istringstream in(log());
        int lines = 0;
        for (std::string line; std::getline(in, line);) lines += has(line, ": serving ");
        return lines;
    };
    auto first = start();
    ASSERT_TRUE(test::waitFor([&] { return serving() == 1 && exists("status.json"); }));
    first.kill(SIGSTOP);  // so that it cannot answer the request yet
    const std::string status = read("status.json");
    auto second = start("--permissions");
    ASSERT_TRUE(test::waitFor([&] { return exists("show-permissions"); }));
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(second.wait(0ms), -1) << "it did not wait for its request to be taken";
    EXPECT_EQ(namesIn(home + "/desktop"),
              (Names{"clients", "desktop.log", "driver.sock", "show-permissions", "status.json"}));
    EXPECT_EQ(read("status.json"), status);
    first.kill(SIGCONT);
    expectEnd(second, 0, 3s);
    EXPECT_FALSE(exists("show-permissions"));
    EXPECT_EQ(serving(), 1);
    EXPECT_EQ(running("/Resources/vov-driver").size(), 1u);

    first.kill(SIGSTOP);
    auto third = start("--permissions");
    ASSERT_TRUE(test::waitFor([&] { return exists("show-permissions"); }));
    first.kill(SIGKILL);
    first.wait();
    EXPECT_TRUE(test::waitFor([&] { return has(log(), ": stopping\n"); }, 3s)) << log();
    EXPECT_TRUE(test::waitFor([&] { return serving() == 2 && read("status.json") != status; }));
    EXPECT_TRUE(has(read("status.json"), "\"host_pid\":" + std::to_string(third.pid) + ","));
    EXPECT_TRUE(test::waitFor([&] { return !exists("show-permissions"); }, 2s));
    EXPECT_EQ(running("/Resources/vov-driver").size(), 1u);
    third.kill(SIGTERM);
    expectEnd(third);
    EXPECT_FALSE(exists("driver.sock"));
}

// A junk tree deeper than the usual limit of 1,024 descriptors goes in full, over as many ticks as
// it takes. Whatever a killed writer left under the status file's temporary name goes, never
// followed.
TEST_F(Host, ClientScanAndStatusFileStayInsideTheHome) {
    for (const auto& folder : {at("clients/junk"), tmp / "target"}) fs::create_directories(folder);
    test::writeFile(tmp / "target/file", "keep");
    ASSERT_EQ(::symlink((tmp / "target/file").c_str(), at(".status.json.tmp").c_str()), 0);
    {
        int fd = ::open(at("clients/junk").c_str(), O_RDONLY | O_DIRECTORY);
        for (int level = 0; fd >= 0 && level < 1100; ++level) {
            ::mkdirat(fd, "d", 0700);
            const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
            ::close(fd);
            fd = next;
        }
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    auto host = start("", "RUN='prlimit --nofile=1024'");
    EXPECT_TRUE(test::waitFor([&] { return namesIn(at("clients")).empty(); }, 30s));
    EXPECT_EQ(namesIn(home + "/desktop"),
              (Names{"clients", "desktop.log", "driver.sock", "status.json"}));
    EXPECT_EQ(test::readFile(tmp / "target/file"), "keep");
    host.kill(SIGTERM);
    expectEnd(host);
}

// However the host is started, it neither prints nor crashes, and leaves no driver behind: a
// platform named from outside, closed standard streams that a library then writes to, a broken
// locale, and resource limits that leave one process slot or next to no memory or descriptors.
TEST_F(Host, HostileStartsNeitherPrintNorCrashNorOrphanTheDriver) {
    std::vector<std::pair<std::string, std::string>> cases{
        {"export QT_QPA_PLATFORM=linuxfb", "--permissions"},
        {"export QT_QPA_PLATFORM=xcb", ""},
        {"export QT_QPA_PLATFORM=wayland WAYLAND_DISPLAY=wayland-9", ""},
        {"export QT_QPA_PLATFORM=bogus", ""},
        {"export LC_ALL=bogus", "--permissions"}};
    for (const int mib : {80, 90, 100, 120})
        cases.push_back({"RUN='prlimit --as=" + std::to_string(mib << 20) + "'", ""});
    for (const int fds : {5, 6, 8, 10})
        cases.push_back({"RUN='prlimit --nofile=" + std::to_string(fds) + "'", ""});
    cases.push_back({"RUN='" + asUser(61002) + " prlimit --nproc=2'", ""});
    for (const auto& [shell, args] : cases) {
        SCOPED_TRACE(shell);
        fs::remove_all(home);
        auto host = start(args, shell);
        // Started or not, it ends quietly: by itself, or when told to.
        int raw = -1;
        test::waitFor([&] { return exists("status.json") || (raw = host.wait(0ms)) != -1; });
        if (raw == -1) host.kill(SIGTERM), raw = host.wait(3s);
        EXPECT_TRUE(WIFEXITED(raw)) << raw;
        EXPECT_EQ(test::readFile(host.outPath) + test::readFile(host.errPath), "");
        EXPECT_TRUE(test::waitFor([&] { return running("/Resources/vov-driver").empty(); }, 3s));
        if (!has(shell, "prlimit")) {
            EXPECT_EQ(WEXITSTATUS(raw), 0);  // these all run
        }
    }

    // Writes to the host's standard output and error (say, a library's warning) go nowhere.
    // A fresh home: the last case's status.json would be taken for this host's.
    fs::remove_all(home);
    auto host = start("", "exec 0<&- 1>&- 2>&-");
    ASSERT_TRUE(test::waitFor([&] { return exists("status.json"); }));
    const std::string fds = "/proc/" + std::to_string(host.pid) + "/fd/";
    EXPECT_EQ(fs::read_symlink(fds + "0"), "/dev/null");
    for (const char* fd : {"1", "2"}) std::ofstream(fds + fd) << "hi\n";
    EXPECT_EQ(host.wait(1500ms), -1) << "the host quit";
    host.kill(SIGTERM);
    expectEnd(host);
}

}  // namespace
