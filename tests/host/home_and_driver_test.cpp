// The built host owns exactly its folder and its driver: the folder it locked, one SIGTERM for
// its driver however the host ends, ticks that nothing in clients/ holds up, and starts that
// cannot work refused before anything is made or run.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>
#include <sstream>
#include <thread>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using test::Names, test::namesIn;

// A driver that notes its pid and each SIGTERM it gets in `tmp`, makes a file at its socket path
// and takes 300 ms to clean up after the first SIGTERM; it ends by itself once `end` appears.
class Owned : public test::HostTest {
  public:
    void countingDriver() {
        test::writeFile(app + "/Resources/vov-driver", "#!/bin/bash\nT='" + tmp.path() + R"('
trap 'echo >> "$T/terms.$$"; stop=1' TERM
cd "$T" && echo $$ >> pids && : > "$4"
n=0
while [ ! -e end ]; do
  sleep 0.05 & wait $!
  [ -n "$stop" ] && n=$((n + 1)) && [ $n -ge 6 ] && exit 0
done
)",
                        0755);
    }
    std::vector<int> sigtermsPerDriver() const {
        std::vector<int> counts;
        std::istringstream pids(test::readFile(tmp / "pids"));
        for (std::string pid; std::getline(pids, pid);) {
            const std::string terms = test::readFile(tmp / ("terms." + pid));
            counts.push_back(static_cast<int>(std::count(terms.begin(), terms.end(), '\n')));
        }
        return counts;
    }
    bool noneLeft() const {
        return running("/Resources/vov-driver").empty() &&
               running("/bin/quorva-driver-guard").empty();
    }
};

// However the host ends while its driver runs, the driver gets exactly one SIGTERM (none when
// it ended by itself), the host does not wait for the driver's end, the guard that watched it
// ends too, and the socket is gone unless the host was killed outright. The quit signals work
// even when the host was started with them blocked.
TEST_F(Owned, OneSigtermForTheDriverOnEveryWayTheHostEnds) {
    countingDriver();
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    struct Ending {
        const char* name;
        std::string args, shell;
        std::function<void(test::Process&)> end;
        int status;          // exit status, or minus the signal that ended the host
        const char* socket;  // where the socket was, in the home
        bool socketStays;
        int sigterms;
        std::vector<int> blocked = {};
    };
    const std::vector<int> quitSignals{SIGTERM, SIGINT, SIGHUP};
    const std::string guard = app + "/bin/quorva-driver-guard";
    ASSERT_EQ(std::system(("cp " + guard + " " + tmp / "guard").c_str()), 0);
    const auto signal = [](int sig) { return [sig](test::Process& h) { h.kill(sig); }; };
    // A guard killed is put back by the host at once, under Qt's event loop too once a window
    // was shown; then a host killed outright still has its driver stopped.
    const auto guardKilled = [&](int hostSignal) {
        return [&, hostSignal](test::Process& h) {
            const auto first = running("/bin/quorva-driver-guard");
            ::kill(first.at(0), SIGKILL);
            ASSERT_TRUE(test::waitFor([&] {
                const auto now = running("/bin/quorva-driver-guard");
                return now.size() == 1 && now != first;
            }));
            h.kill(hostSignal);
        };
    };
    const std::vector<Ending> endings{
        {"SIGTERM", "", ":", signal(SIGTERM), 0, "desktop/driver.sock", false, 1},
        {"SIGINT", "", ":", signal(SIGINT), 0, "desktop/driver.sock", false, 1},
        {"SIGHUP", "", ":", signal(SIGHUP), 0, "desktop/driver.sock", false, 1},
        {"quit signals blocked at start", "", "", signal(SIGTERM), 0, "desktop/driver.sock", false,
         1, quitSignals},
        {"guard killed, then the quit", "--permissions", ":", guardKilled(SIGTERM), 0,
         "desktop/driver.sock", false, 1},
        {"guard killed, then the host", "--permissions", ":", guardKilled(SIGKILL), -SIGKILL,
         "desktop/driver.sock", true, 1},
        {"kill -9", "", ":", signal(SIGKILL), -SIGKILL, "desktop/driver.sock", true, 1},
        {"SIGSEGV", "", ":", signal(SIGSEGV), -SIGSEGV, "desktop/driver.sock", false, 1},
        {"SIGBUS", "", ":", signal(SIGBUS), -SIGBUS, "desktop/driver.sock", false, 1},
        {"home moved away", "", ":",
         [&](test::Process&) { fs::rename(home + "/desktop", home + "/old"); }, 0,
         "old/driver.sock", false, 1},
        {"driver ended by itself", "", ":",
         [&](test::Process&) { test::writeFile(tmp / "end", ""); }, 0, "desktop/driver.sock", false,
         0},
        {"X server gone", "--permissions", "export DISPLAY=" + x.display(),
         [&](test::Process&) { x.kill(SIGKILL); }, 1, "desktop/driver.sock", false, 1},
        // The driver runs, but its guard ends without saying it watches it: the start fails.
        {"start-up failure after the launch", "", "printf '#!/bin/sh\\nsleep 1\\n' > " + guard,
         nullptr, 1, "desktop/driver.sock", false, 1},
        // A busy machine: the guard answers late, and the host waits for it.
        {"a guard slow to answer", "",
         "mv " + guard + " " + guard +
             ".real && printf '#!/bin/sh\\nsleep 0.7\\nexec \"$0.real\"\\n' > " + guard +
             " && chmod +x " + guard,
         signal(SIGTERM), 0, "desktop/driver.sock", false, 1},
        // One that never answers holds the start, not a quit: the quit ends it and the guard.
        {"a guard that never answers, then a quit", "",
         "printf '#!/bin/sh\\nwhile :; do sleep 1; done\\n' > " + guard, signal(SIGTERM), 0,
         "desktop/driver.sock", false, 1},
        // The same, with the quit in before the wait for the guard begins: it interrupts
        // nothing, and still ends the wait.
        {"a quit just before the wait for a guard that never answers", "",
         "printf '#!/bin/sh\\nwhile :; do sleep 1; done\\n' > " + guard +
             " && export LD_PRELOAD=" QUORVA_TEST_QUIT_BEFORE_WAIT " QUIT_ONCE_EXISTS=" + home +
             "/desktop/driver.sock",
         nullptr, 0, "desktop/driver.sock", false, 1},
    };
    for (const auto& e : endings) {
        SCOPED_TRACE(e.name);
        fs::remove_all(home);
        for (const char* file : {"pids", "end"}) fs::remove(tmp / file);
        ASSERT_EQ(
            std::system(("rm -f " + guard + "* && cp " + tmp / "guard" + " " + guard).c_str()), 0);
        auto host = start(e.args, e.shell, e.blocked);
        if (e.end) {
            // The host writes its status before a bash driver is under way; with a guard that
            // never answers, it writes none.
            const bool answers = !std::string(e.name).starts_with("a guard that never");
            ASSERT_TRUE(test::waitFor(
                [&] { return (exists("status.json") || !answers) && exists("driver.sock"); }));
            ASSERT_EQ(running("/bin/quorva-driver-guard").size(), 1u);
            e.end(host);
        }
        // A row with no ending of its own waits for its start too (the shim's cap and then some).
        expectEnd(host, e.status, e.end ? 5s : 25s);
        if (e.sigterms) {
            EXPECT_FALSE(noneLeft()) << "the host waited for its driver";
        }
        EXPECT_TRUE(test::waitFor([&] { return noneLeft(); }, 3s));
        EXPECT_EQ(sigtermsPerDriver(), std::vector<int>{e.sigterms});
        EXPECT_EQ(test::pathExists(home + "/" + e.socket), e.socketStays);
    }
}

// On a quit the host stops its driver itself: its guard, which would once the host is gone,
// is there for a host that cannot.
TEST_F(Owned, AQuittingHostSendsTheSigtermItself) {
    test::writeFile(app + "/Resources/vov-driver",
                    R"(#!/usr/bin/env python3
import os, signal, sys
signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGTERM})
open(sys.argv[4], "w").close()
sender = signal.sigwaitinfo({signal.SIGTERM}).si_pid
with open(")" + tmp / "sender.tmp" +
                        R"(", "w") as f:
    f.write(str(sender))
os.rename(")" + tmp / "sender.tmp" +
                        R"(", ")" + tmp / "sender" + R"(")
)",
                    0755);
    auto host = start();
    ASSERT_TRUE(test::waitFor([&] { return exists("driver.sock"); }));
    const pid_t pid = host.pid;
    host.kill(SIGTERM);
    expectEnd(host);
    ASSERT_TRUE(test::waitFor([&] { return test::pathExists(tmp / "sender"); }, 3s));
    EXPECT_EQ(test::readFile(tmp / "sender"), std::to_string(pid));
}

// A home moved away, removed or replaced by a link while the host runs is lost: the host quits
// at its next tick, removing the socket from the folder it holds only. A second host that took
// the home meanwhile keeps its socket and driver; a link's target is neither pruned nor written.
TEST_F(Owned, LostHomeEndsTheHostWithoutTouchingWhatTookItsPlace) {
    countingDriver();
    const std::string elsewhere = tmp / "elsewhere";
    fs::create_directories(elsewhere + "/clients/junk");
    auto first = start();
    ASSERT_TRUE(test::waitFor([&] { return exists("status.json"); }));
    fs::rename(home + "/desktop", home + "/old");
    auto second = start();
    ASSERT_TRUE(test::waitFor([&] { return exists("status.json"); }));
    expectEnd(first, 0, 3s);
    EXPECT_FALSE(test::pathExists(home + "/old/driver.sock"));
    EXPECT_TRUE(exists("driver.sock"));
    std::this_thread::sleep_for(1s);  // the first driver's cleanup, and a tick of the second
    EXPECT_EQ(sigtermsPerDriver(), (std::vector<int>{1, 0}));
    EXPECT_NE(test::readFile(at("status.json")).find(std::to_string(second.pid)),
              std::string::npos);

    fs::remove_all(home + "/desktop");
    ASSERT_EQ(::symlink(elsewhere.c_str(), (home + "/desktop").c_str()), 0);
    expectEnd(second, 0, 3s);
    EXPECT_EQ(namesIn(elsewhere), Names{"clients"});
    EXPECT_EQ(namesIn(elsewhere + "/clients"), Names{"junk"});
}

// A relative --home is the folder it named at the start: the working folder it hangs off may go
// while the host runs, and the host keeps its home and goes on writing its status there.
TEST_F(Owned, RelativeHomeIsTheFolderItNamedAtTheStart) {
    fs::create_directories(tmp / "wd");
    home = tmp / "h";
    auto host = start("--home ../h", "cd " + tmp / "wd");
    ASSERT_TRUE(test::waitFor([&] { return exists("status.json") && exists("driver.sock"); }));
    // The driver is given the socket where the home was found, not the path as typed.
    const auto drivers = running("/Resources/vov-driver");
    ASSERT_EQ(drivers.size(), 1u);
    std::string args = test::readFile("/proc/" + std::to_string(drivers[0]) + "/cmdline");
    std::replace(args.begin(), args.end(), '\0', ' ');
    EXPECT_NE(
        args.find(" --socket " + (fs::canonical(tmp / "h") / "desktop/driver.sock").string() + " "),
        std::string::npos)
        << args;
    fs::remove(tmp / "wd");
    const auto inode = [&] {
        struct stat st {};
        return ::stat(at("status.json").c_str(), &st) == 0 ? st.st_ino : 0;
    };
    const ino_t before = inode();
    EXPECT_TRUE(test::waitFor([&] { return inode() != before; }, 1500ms));
    EXPECT_EQ(host.wait(0ms), -1) << "the host took its home for lost";
    host.kill(SIGTERM);
    expectEnd(host);
}

// Each fails quietly with status 1 before a driver is started, and before the home is made where
// the home cannot work: the log, the runtime folder or the working folder not what they must be,
// a socket path one byte too long for an address, an app folder whose path is too long to name,
// no guard or no driver, a toolkit module that is not a whole ELF file (cut inside its segments,
// with its section headers or without, inside those, inside its header). A socket path that
// just fits works.
TEST_F(Owned, StartsThatCannotWorkMakeAndRunNothing) {
    scriptDriver(": > \"$4\"; exec sleep 1000\n");  // records its pid if it ever runs
    const std::string elsewhere = tmp / "elsewhere", module = app + "/lib/quorva-qt.so";
    fs::create_directories(elsewhere);
    test::writeFile(tmp / "outside.log", "");
    const std::vector<std::string> parts{module, app + "/bin/quorva-driver-guard",
                                         app + "/Resources/vov-driver"};
    for (const auto& part : parts) fs::copy_file(part, tmp / fs::path(part).filename());
    const auto homeWithSocketPathOf = [&](std::size_t length) {
        const std::size_t rest = tmp.path().size() + std::string("/h/desktop/driver.sock").size();
        return tmp / ("h" + std::string(length - rest, 'x'));
    };
    const std::string deep =
        "d=$(printf 'x%.0s' $(seq 250)) && for i in $(seq 17); do "
        "mkdir $d && cd -P $d || exit 9; done; mkdir QuorvaDesktop && cp -r '" +
        app + "/bin' QuorvaDesktop && exec ./QuorvaDesktop/bin/quorva-desktop --home \"$1\"";
    const std::string cut =
                          "rm " + module + " && head -c 20000 " + tmp / "quorva-qt.so > " + module,
                      zero = " | dd of=" + module + " bs=1 conv=notrunc status=none seek=";
    // A shell command first, the host's arguments, the home, the exit status, whether the home is
    // there afterwards.
    const std::vector<std::tuple<std::string, std::string, std::string, int, bool>> starts{
        {"mkdir -p \"$1/desktop/desktop.log\"", "", home, 1, true},
        {"mkdir -p \"$1/desktop\" && mkfifo \"$1/desktop/desktop.log\"", "", home, 1, true},
        {"mkdir -p \"$1/desktop\" && ln outside.log \"$1/desktop/desktop.log\"", "", home, 1, true},
        {"mkdir -p \"$1\" && : > \"$1/desktop\"", "", home, 1, true},
        // A link the user made is followed only to a folder nobody else can write in.
        {"mkdir -p \"$1\" && chmod 777 " + elsewhere + " && ln -s " + elsewhere + " \"$1/desktop\"",
         "", home, 1, true},
        // No variable may stand in for a working folder that is gone.
        {"mkdir gone && cd gone && rmdir ../gone && export PWD=" + elsewhere, "--home rel", home, 1,
         false},
        {":", "", homeWithSocketPathOf(108), 1, false},
        {deep, "", home, 1, false},
        {"rm " + parts[1], "", home, 1, true},
        {"rm " + parts[2], "--permissions --english", home, 1, true},
        {"rm " + module + " && mkfifo " + module, "", home, 1, false},
        {cut, "", home, 1, false},
        {cut + " && printf '\\0\\0\\0\\0\\0\\0\\0\\0'" + zero + "40 && printf '\\0\\0'" + zero +
             "60",
         "", home, 1, false},
        {"head -c -64 " + tmp / "quorva-qt.so > " + module, "", home, 1, false},
        {"head -c 100 " + tmp / "quorva-qt.so > " + module, "", home, 1, false},
        {"rm " + module + " && ln -s " + tmp / "quorva-qt.so " + module, "", home, 1, false},
        {"rm " + module, "", home, 1, false},
        {":", "", homeWithSocketPathOf(107), 0, true},
    };
    for (const auto& [shell, args, path, status, made] : starts) {
        SCOPED_TRACE(shell + " " + std::to_string(path.size()));
        home = path;
        fs::remove_all(home);
        fs::remove(tmp / "pid");
        for (const auto& part : parts)
            fs::remove(part), fs::copy_file(tmp / fs::path(part).filename(), part);
        auto host = start(args, "cd " + tmp.path() + " && " + shell);
        if (status == 0) {
            EXPECT_TRUE(
                test::waitFor([&] { return exists("status.json") && exists("driver.sock"); }));
            host.kill(SIGTERM);
        }
        expectEnd(host, status, 15s);  // the deep one copies the app folder first
        EXPECT_EQ(test::pathExists(tmp / "pid"), status == 0) << "driver";
        EXPECT_EQ(test::pathExists(home), made);
        EXPECT_EQ(exists("status.json"), status == 0);
        EXPECT_EQ(namesIn(elsewhere), Names{});
    }
    EXPECT_EQ(std::system(("cd " + tmp.path() + " && rm -rf x*").c_str()), 0);
}

// Whatever clients/ holds (a process making folders in it as fast as it can, ten thousand junk
// folders), a status write comes at least every 1.5 s and a quit ends the host within 1 s.
TEST_F(Owned, NothingInClientsHoldsUpTicksOrQuit) {
    const std::string clients = at("clients");
    const auto folders = [&](int i) {
        if (::mkdir((clients + "/junk/d" + std::to_string(i)).c_str(), 0700) != 0)
            ::mkdir((clients + "/junk").c_str(), 0700);
    };
    const std::vector<std::pair<const char*, std::function<void(int)>>> writers{
        {"folders as fast as they go", folders}, {"ten thousand junk folders", nullptr}};
    for (const auto& [name, write] : writers) {
        SCOPED_TRACE(name);
        fs::remove_all(home);
        fs::create_directories(clients + "/junk");
        if (!write)
            for (int i = 0; i < 10000; ++i)
                ::mkdir((clients + "/d" + std::to_string(i)).c_str(), 0700);
        const std::jthread writer([&, write = write](std::stop_token stop) {
            for (int i = 0; write && !stop.stop_requested(); ++i) write(i % 5000);  // bounded
        });
        auto host = start();
        const auto inode = [&] {
            struct stat st {};
            return ::stat(at("status.json").c_str(), &st) == 0 ? st.st_ino : 0;
        };
        ASSERT_TRUE(test::waitFor([&] { return inode() != 0; }));
        auto last = Clock::now(), end = last + 4s;
        Clock::duration longest{};
        for (ino_t seen = inode(); Clock::now() < end; std::this_thread::sleep_for(10ms))
            if (const ino_t now = inode(); now != seen)
                seen = now, longest = std::max(longest, Clock::now() - last), last = Clock::now();
        longest = std::max(longest, Clock::now() - last);
        EXPECT_LT(longest, 1500ms) << "between status writes";
        const auto quit = Clock::now();
        host.kill(SIGTERM);
        expectEnd(host, 0, 3s);
        EXPECT_LT(Clock::now() - quit, 1s);
    }
}

}  // namespace
