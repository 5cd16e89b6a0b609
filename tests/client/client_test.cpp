// Quorva::Client where the tool does not reach: rules, hostile files, the
// running test, what a client trusts, registrations, the driver wait, and
// start-up's retry.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <thread>

#include "client/causes.h"
#include "client/driver.h"
#include "client/trust.h"
#include "platform/files.h"
#include "quorva/client.h"
#include "support/test_support.h"

namespace {

using namespace std::chrono_literals;

platform::FileHandle listeningAt(const std::string& path, bool listening = true, int backlog = 4) {
    platform::FileHandle server(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    EXPECT_EQ(::bind(server.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    if (listening) ::listen(server.fd(), backlog);
    return server;
}

// The home by the host's own rule (Rules.HomeAndEnglishArguments has its cases).
TEST(Client, HomeFollowsTheHostRuleAndHostIsFoundInstalledOrBesideThenOnPath) {
    ::setenv("HOME", "/u", 1);
    EXPECT_EQ(quorva::homeFolder(), "/u/.quorva");
    ::setenv("HOME", "u", 1);  // not a folder: the password database's is taken
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir[0] == '/') {
        EXPECT_EQ(quorva::homeFolder(), platform::joinPath(pw->pw_dir, ".quorva"));
    }
    EXPECT_EQ(quorva::homeFolder("/abs//"), "/abs");

    EXPECT_EQ(quorva::hostCandidates("/p/bin", "/usr/bin::rel:/opt/q/"),
              (std::vector<std::string>{
                  "/p/lib/quorva-desktop/bin/quorva-desktop", "/p/QuorvaDesktop/bin/quorva-desktop",
                  "/p/bin/quorva-desktop", "/usr/bin/quorva-desktop", "/opt/q/quorva-desktop"}));
    EXPECT_EQ(quorva::hostCandidates("/bin", "")[0], "/lib/quorva-desktop/bin/quorva-desktop");
}

// A process of the host's program holding a folder's lock, as the host does:
// flock(1), copied under the host's name, holding it (`how`: -x or -s) on its
// own descriptor while a child of its own sleeps.
struct StandIn {
    test::Process process;
    StandIn(const std::string& folder, const std::string& name, const std::string& how = "-x") {
        const std::string dir = folder + "/../stand-in";
        std::filesystem::create_directories(dir);
        std::filesystem::copy_file("/usr/bin/flock", dir + "/" + name,
                                   std::filesystem::copy_options::skip_existing);
        process =
            test::spawnProcess({dir + "/" + name, "-o", how, folder, "sleep", "100"}, {}, dir);
        const std::string mark = " " + std::to_string(process.pid) + " ";
        EXPECT_TRUE(test::waitFor(
            [&] { return test::readFile("/proc/locks").find(mark) != std::string::npos; }));
    }
    ~StandIn() { end(); }
    void end() {
        const std::string self = std::to_string(process.pid);
        std::istringstream children(
            test::readFile("/proc/" + self + "/task/" + self + "/children"));
        for (int child; children >> child;) ::kill(child, SIGKILL);
        process.kill(SIGKILL);
        process.wait();
    }
};

// A folder with status.json, and a stand-in for its host.
struct Home {
    test::TempDir tmp;
    const std::string home = tmp / "home", runtime = tmp / "home/desktop";
    std::unique_ptr<StandIn> host;
    Home() { std::filesystem::create_directories(runtime), ::chmod(runtime.c_str(), 0700); }
    void status(const std::string& json) const { test::writeFile(runtime + "/status.json", json); }
    void status(int pid) const {
        status(R"({"accessibility":true,"bundle_id":"com.quorva.desktop","host_pid":)" +
               std::to_string(pid) +
               R"(,"owner":"Quorva","screen_recording":true,"status":"ready"})");
    }
    // The stand-in takes the lock (ending the one before) and writes its status.
    int holdLock(const std::string& how = "-x", const std::string& name = "quorva-desktop") {
        host.reset();
        host = std::make_unique<StandIn>(runtime, name, how);
        status(host->process.pid);
        return host->process.pid;
    }
    // Now's fraction of a second is kept: dropping it made "2 s old" read as
    // up to 3 s old, past the stale limit on a slow machine.
    void age(long seconds) const {
        timespec then{};
        ::clock_gettime(CLOCK_REALTIME, &then);
        then.tv_sec -= seconds;
        const timespec times[2] = {then, then};
        ::utimensat(AT_FDCWD, (runtime + "/status.json").c_str(), times, 0);
    }
};

// And a signal only ever goes to that holder: never to a pid from the file
// alone, nor to another program holding the lock (flock run on the folder).
TEST(Client, RunningMeansTheFilesPidIsTheHostsProgramHoldingTheRuntimeFoldersLock) {
    Home h, other;
    test::TempDir out;
    test::Process sleeper = test::spawnProcess({"/bin/sleep", "100"}, {}, out.path());
    const auto running = [&] { return quorva::readStatus(h.home).running; };
    EXPECT_FALSE(quorva::readStatus(h.home).present);
    h.status(sleeper.pid);
    EXPECT_TRUE(quorva::readStatus(h.home).present);
    EXPECT_FALSE(running()) << "a live pid that is not the lock holder";
    bool wasRunning = true;
    EXPECT_TRUE(quorva::stopHost(h.home, 1s, &wasRunning).ok());
    EXPECT_FALSE(wasRunning);
    EXPECT_EQ(sleeper.wait(200ms), -1) << "a process that does not hold the home was signalled";
    h.status(other.holdLock());
    EXPECT_FALSE(running()) << "the lock of another home";
    h.holdLock("-s");
    EXPECT_FALSE(running()) << "a shared lock";
    const int stranger = h.holdLock("-x", "flock");
    EXPECT_FALSE(running()) << "another program holds the lock";
    const auto refused = quorva::stopHost(h.home, 1s, &wasRunning);
    EXPECT_NE(refused.cause().find("pid " + std::to_string(stranger) + " (flock)"),
              std::string::npos)
        << refused.cause();
    EXPECT_EQ(h.host->process.wait(300ms), -1) << "another program holding the lock was signalled";
    h.holdLock();
    EXPECT_TRUE(running());
    // Seconds ago, stale; -100: the clock was set back since it was written.
    for (const auto& [age, stale] :
         {std::pair(0L, false), {2L, false}, {5L, true}, {-100L, false}}) {
        h.age(age);
        const auto s = quorva::readStatus(h.home);
        EXPECT_TRUE(s.running);
        EXPECT_EQ(s.stale, stale) << age;
        EXPECT_EQ(s.ready(), !stale) << age;
        EXPECT_NEAR(s.ageSeconds, std::max(age, 0L), 1.1) << age;
    }
    h.status(1 << 30);
    EXPECT_FALSE(running()) << "no such process";
    h.age(5);
    EXPECT_FALSE(quorva::readStatus(h.home).stale) << "an old file of no host is just not running";
}

TEST(Client, ReadStatusTakesOnlyAHostStatus) {
    const std::string ok = R"("owner":"Quorva","bundle_id":"b","host_pid":5,"status":"ready")";
    // Member order, spacing, escapes and extra members are the writer's business.
    const std::pair<std::string, std::string> accepted[] = {
        {R"( {"accessibility":true,"screen_recording":false,"x":[{"y":null}],"z":)" +
             std::string(30000, '[') + std::string(30000, ']') + "," + ok + "}\n",
         "ready"},
        {R"({"status":"permission_required","accessibility":false,"screen_recording":false,)"
         R"("owner":"Quorva","bundle_id":"","host_pid":2147483647})",
         "permission_required"},
    };
    for (const auto& [json, status] : accepted) {
        Home h;
        h.status(json);
        const auto s = quorva::readStatus(h.home);
        EXPECT_TRUE(s.present && s.error.empty()) << json << s.error;
        EXPECT_EQ(s.status, status);
    }

    std::vector<std::string> bad = {
        "",
        "[]",
        R"({"accessibility":true,"screen_recording":true,)" + ok + "} {}",
        R"({"accessibility":"true","screen_recording":true,)" + ok + "}",
        R"({"screen_recording":true,)" + ok + "}",
        R"({"accessibility":true,"screen_recording":true,"owner":"Q","bundle_id":"b","host_pid":5,"status":"READY"})",
        std::string(100000, '['),
        std::string(200, '{'),
        std::string(60000, '['),
    };
    // Numbers no double holds, anywhere in the file: the parser's own exception.
    for (const char* huge : {"1e999", "-1e999", "1e400"}) {
        bad.push_back(std::string(R"({"n":)") + huge + "}");
        bad.push_back(R"({"accessibility":true,"screen_recording":true,"x":[)" + std::string(huge) +
                      "]," + ok + "}");
    }
    for (const char* pid :
         {"0", "-1", "2147483648", "5.0", "5e0", "05", "\"5\"", "99999999999999999999", "1e999"})
        bad.push_back(
            R"({"accessibility":true,"screen_recording":true,"owner":"Q","bundle_id":"b",)"
            R"("status":"ready","host_pid":)" +
            std::string(pid) + "}");
    for (const auto& json : bad) {
        Home b;
        b.status(json);
        const auto s = quorva::readStatus(b.home);
        EXPECT_FALSE(s.present) << json.substr(0, 80);
        EXPECT_NE(s.error.find("status.json"), std::string::npos) << json.substr(0, 80);
    }
}

// A reader must never hang or fill its memory on what stands at the path.
TEST(Client, ReadStatusRefusesAFifoAFolderAndAHugeFile) {
    Home fifo, folder, huge;
    ASSERT_EQ(::mkfifo((fifo.runtime + "/status.json").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir((folder.runtime + "/status.json").c_str(), 0700), 0);
    huge.status(std::string(1 << 20, ' '));
    const std::pair<const Home*, std::string> cases[] = {
        {&fifo, "is not a regular file"}, {&folder, "is not a regular file"}, {&huge, "too large"}};
    for (const auto& [h, cause] : cases) {
        const auto s = quorva::readStatus(h->home);
        EXPECT_FALSE(s.present);
        EXPECT_NE(s.error.find(cause), std::string::npos) << s.error;
    }
    Home notADirectory;
    test::writeFile(notADirectory.home + "/file", "");
    EXPECT_EQ(quorva::readStatus(notADirectory.home + "/file").error, "");
}

TEST(Trust, OnlyWhatTheCallerOwnsAndNoOtherCanWrite) {
    using quorva::detail::Trust;
    const std::tuple<uid_t, mode_t, bool, Trust> cases[] = {
        {1000, 0700, false, Trust::Trusted},         {1000, 0755, false, Trust::Trusted},
        {1000, 0644, false, Trust::Trusted},         {1001, 0700, false, Trust::ForeignOwner},
        {0, 0700, false, Trust::ForeignOwner},       {1000, 0702, false, Trust::WritableByOthers},
        {1000, 0777, true, Trust::WritableByOthers}, {1000, 0770, false, Trust::WritableByGroup},
        {1000, 01770, true, Trust::Trusted},  // a group of its own, as Debian's user groups
    };
    for (const auto& [owner, mode, privateGroup, trust] : cases)
        EXPECT_EQ(quorva::detail::judgeTrust(owner, S_IFDIR | mode, 1000, privateGroup), trust)
            << owner << " " << std::oct << mode;
}

// A fix is pasted into a shell as it stands, whatever the home's name holds.
TEST(Trust, FixCommandsInMessagesArePastedAsTheyStand) {
    test::TempDir tmp;
    for (const std::string name : {"my home", "it's", "two\nlines", "$(touch pasted)", "-x"}) {
        SCOPED_TRACE(name);
        const std::string runtime = tmp / name + "/desktop";
        std::filesystem::create_directories(runtime);
        ::chmod(runtime.c_str(), 0777);
        const std::string error = quorva::readStatus(tmp / name).error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << "not one line";
        const auto fix = error.find("chmod 700 ");
        ASSERT_NE(fix, std::string::npos) << error;
        const std::string pasted = "cd " + tmp.path() + " && " + error.substr(fix);
        auto shell = test::spawnProcess({"/bin/bash", "-c", pasted}, {}, tmp.path());
        EXPECT_EQ(shell.wait(), 0) << pasted;
        EXPECT_EQ(test::modeOf(runtime), 0700u) << pasted;
        EXPECT_FALSE(test::pathExists(tmp / "pasted"));
    }
}

// Anyone who can write there can forge the status or serve their own socket.
TEST(Trust, WritableByOthersIsRefusedWithTheFix) {
    Home h;
    h.holdLock();
    const std::string file = h.runtime + "/status.json", socket = h.runtime + "/driver.sock";
    const platform::FileHandle server = listeningAt(socket);
    ASSERT_TRUE(quorva::readStatus(h.home).ready());
    // What, its mode, the folder's, the fix; whether the socket is refused too.
    const std::tuple<std::string, mode_t, mode_t, std::string, bool> cases[] = {
        {h.runtime, 0777, 0777, "chmod 700 " + h.runtime, true},
        {h.runtime, 0703, 0703, "chmod 700 " + h.runtime, true},
        {file, 0646, 0701, "restart the host with umask 022", false},
    };
    for (const auto& [path, mode, folderMode, fix, socketToo] : cases) {
        ::chmod(path.c_str(), mode);
        ::chmod(h.runtime.c_str(), folderMode);
        const auto s = quorva::readStatus(h.home);
        EXPECT_FALSE(s.present || s.running);
        EXPECT_NE(s.error.find(path + " can be written by others"), std::string::npos) << s.error;
        EXPECT_NE(s.error.find(fix), std::string::npos) << s.error;
        EXPECT_EQ(quorva::waitForDriver(h.home, 0ms).ok(), !socketToo) << path;
        EXPECT_EQ(quorva::waitForDriver(h.home, 0ms).kind() == quorva::Outcome::Kind::Untrusted,
                  socketToo)
            << path;
        // The fix works; and those who cannot pass the folder cannot reach the file.
        ::chmod(h.runtime.c_str(), 0700);
        EXPECT_TRUE(quorva::readStatus(h.home).ready()) << path;
        ::chmod(path.c_str(), path == file ? 0644 : 0700);
    }
    // A socket's mode says who may connect, not who made it.
    ::chmod(socket.c_str(), 0777);
    EXPECT_TRUE(quorva::waitForDriver(h.home, 0ms).ok());
    // A host under umask 002 writes a group-writable file, which its group cannot reach through
    // the folder. (Given a group not its owner's own, where it can: an owner's private group is
    // trusted anyway.)
    ::chmod(file.c_str(), 0664);
    [[maybe_unused]] const int regrouped = ::chown(file.c_str(), static_cast<uid_t>(-1), 65534);
    EXPECT_TRUE(quorva::readStatus(h.home).ready());
}

TEST(Client, RegistrationMakesTheFolderAndRemovesOnlyItsOwnEntry) {
    test::TempDir tmp;
    const std::string home = tmp / "new/home", clients = home + "/desktop/clients";
    const std::string mine = clients + "/" + std::to_string(::getpid());
    {
        quorva::Registration moved;
        {
            quorva::Registration r(home);
            ASSERT_TRUE(r.ok()) << r.error();
            EXPECT_EQ(r.path(), mine);
            for (const auto& f : {tmp / "new", home, home + "/desktop", clients})
                EXPECT_EQ(test::modeOf(f), 0700u) << f;
            moved = std::move(r);
        }
        EXPECT_TRUE(test::pathExists(mine)) << "moved-from object removed the entry";
        {
            quorva::Registration twice(home);  // the same pid: it did not make the entry
            EXPECT_TRUE(twice.ok());
        }
        EXPECT_TRUE(test::pathExists(mine)) << "removed by an object that did not make it";
    }
    EXPECT_FALSE(test::pathExists(mine));
    for (const int pid : {0, -1, -2147483647}) {
        quorva::Registration r(home, pid);
        EXPECT_FALSE(r.ok()) << pid;
        EXPECT_EQ(platform::listDirectory(clients)->size(), 0u) << pid;
    }
    test::writeFile(tmp / "file", "");
    quorva::Registration blocked(tmp / "file/home");
    EXPECT_FALSE(blocked.ok());
    EXPECT_NE(blocked.error().find(tmp / "file is not a folder"), std::string::npos)
        << blocked.error();
}

// The host writes its status before each look at the clients folder.
TEST(Client, RegistrationIsSeenOnceARunningHostWritesAfterIt) {
    Home h;
    quorva::Registration r(h.home);
    ASSERT_TRUE(r.ok());
    const auto stamp = [&](const std::string& path, long delta) {
        struct stat st {};
        ::stat(r.path().c_str(), &st);
        const timespec times[2] = {st.st_mtim, {st.st_mtim.tv_sec + delta, st.st_mtim.tv_nsec}};
        ::utimensat(AT_FDCWD, path.c_str(), times, 0);
    };
    h.holdLock();
    stamp(h.runtime + "/status.json", -1);
    EXPECT_FALSE(r.seenByHost()) << "written before the entry";
    stamp(h.runtime + "/status.json", 0);
    EXPECT_FALSE(r.seenByHost()) << "written at the same moment";
    stamp(h.runtime + "/status.json", 1);
    EXPECT_TRUE(r.seenByHost());
    h.host->end();
    EXPECT_FALSE(r.seenByHost()) << "its host has ended";
}

TEST(Client, WindowRequestNeedsAHomeAHostHasRunIn) {
    Home h;
    EXPECT_FALSE(quorva::requestWindow(h.home + "/none").ok());
    for (int i = 0; i < 2; ++i) EXPECT_TRUE(quorva::requestWindow(h.home).ok()) << i;
    EXPECT_EQ(test::modeOf(h.runtime + "/show-permissions"), 0600u);
}

TEST(Client, WaitForDriverConnectsOnceServedAndKeepsItsDeadline) {
    Home h;
    const std::string path = h.runtime + "/driver.sock";
    const auto started = std::chrono::steady_clock::now();
    const auto absent = quorva::waitForDriver(h.home, 300ms);
    EXPECT_GE(std::chrono::steady_clock::now() - started, 300ms);
    EXPECT_NE(absent.cause().find(path), std::string::npos) << absent.cause();
    EXPECT_EQ(absent.kind(), quorva::Outcome::Kind::Failed);
    const platform::FileHandle server = listeningAt(path, false);
    EXPECT_FALSE(quorva::waitForDriver(h.home, 50ms).ok()) << "bound but not listening";
    EXPECT_FALSE(quorva::detail::driverAccepts(h.home).ok()) << "bound but not listening";
    std::thread later([&] {
        std::this_thread::sleep_for(200ms);
        ::listen(server.fd(), 4);
    });
    EXPECT_TRUE(quorva::waitForDriver(h.home, 10s).ok());
    later.join();
    EXPECT_TRUE(quorva::detail::driverAccepts(h.home).ok());
    // A look without connecting agrees with a connection, a full backlog too.
    const platform::FileHandle full = listeningAt(h.runtime + "/full.sock", true, 0);
    std::filesystem::rename(h.runtime + "/full.sock", path);
    for (const bool waiting : {false, true}) {
        EXPECT_EQ(quorva::detail::driverAccepts(h.home).ok(), !waiting) << waiting;
        EXPECT_EQ(quorva::waitForDriver(h.home, 0ms).ok(), !waiting) << waiting;
    }
    EXPECT_FALSE(quorva::waitForDriver(std::string(120, 'x'), 10s).ok()) << "path too long";
}

// A host that quits just as ours starts holds the lock, so ours exits 0 and
// leaves no host: start-up must try again rather than wait for nobody.
TEST(Client, StartTriesAgainWhenTheLockHolderWasQuitting) {
    Home h;
    h.holdLock();
    std::filesystem::remove(h.runtime + "/status.json");  // it has not written one yet
    std::thread quitting([&] {
        std::this_thread::sleep_for(600ms);
        h.host->end();
    });
    quorva::StartOptions options;
    options.home = h.home;
    options.host = test::builtAppFolder() + "/bin/quorva-desktop";
    const auto started = quorva::startHost(options);
    quitting.join();
    EXPECT_TRUE(started.ok()) << started.cause();
    const auto s = quorva::readStatus(h.home);
    ASSERT_TRUE(s.running);  // so hostPid names the host, never 0 (our own group)
    ::kill(s.hostPid, SIGTERM);
}

// The host outlives the call: it is left to init, so that the caller keeps
// neither a thread that waits to reap it nor a zombie once it ends.
TEST(Client, StartLeavesTheCallerNoThreadAndNoChild) {
    test::TempDir tmp;
    const auto threads = [] { return test::namesIn("/proc/self/task").size(); };
    const std::size_t before = threads();
    quorva::StartOptions options;
    options.home = tmp / "home";
    options.host = test::builtAppFolder() + "/bin/quorva-desktop";
    ASSERT_TRUE(quorva::startHost(options).ok());
    const int host = quorva::readStatus(options.home).hostPid;
    ASSERT_GT(host, 0);
    EXPECT_EQ(threads(), before) << "a thread was left behind";
    const std::string stat = test::readFile("/proc/" + std::to_string(host) + "/stat");
    int parent = 0;
    std::sscanf(stat.substr(stat.rfind(')') + 2).c_str(), "%*c %d", &parent);
    EXPECT_NE(parent, ::getpid()) << "the host is the caller's child";
    EXPECT_TRUE(quorva::stopHost(options.home, 10s).ok());
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1) << "a child is left to the caller";
}

// A host whose driver ends at once takes the home and lets it go between two
// looks: its status, or its driver's log line, tells that it ran; it is not
// taken for one that lost a race, and not started again.
TEST(Client, StartReportsAHostThatRanAndEndedBetweenTwoLooks) {
    const std::string status =
        R"(printf '{"accessibility":false,"bundle_id":"b","host_pid":%d,"owner":"Quorva",)"
        R"("screen_recording":false,"status":"permission_required"}' $$ > "$1/status.json")";
    const std::string log = R"(echo 'driver: cannot open the display' >> "$1/desktop.log")";
    for (const auto& [signs, told] : {std::pair(status, std::string()),
                                      {log, ", which ends \"driver: cannot open the display\""}}) {
        test::TempDir tmp;
        const std::string home = tmp / "home";
        test::writeFile(tmp / "host",
                        "#!/bin/sh\nset -- '" + home +
                            "/desktop'\nmkdir -p -m 700 \"$1\"\necho run >> '" + tmp / "runs" +
                            "'\n" + signs + "\nexit 0\n",
                        0755);
        quorva::StartOptions options;
        options.home = home;
        options.host = tmp / "host";
        options.timeout = 2s;
        const auto started = quorva::startHost(options);
        EXPECT_NE(started.cause().find("ended with exit status 0 before its driver accepted "
                                       "connections: see " +
                                       home + "/desktop/desktop.log" + told),
                  std::string::npos)
            << started.cause();
        EXPECT_EQ(test::readFile(tmp / "runs"), "run\n") << "started again";
    }
}

TEST(Client, StartNamesWhyNoHostCameUp) {
    test::TempDir tmp;
    test::writeFile(tmp / "file", "");
    test::writeFile(tmp / "fails", "#!/bin/sh\nexit 1\n", 0755);
    test::writeFile(tmp / "loses", "#!/bin/sh\nexit 0\n", 0755);
    // Hosts that fail on what they find once started (the client found nothing wrong before).
    test::writeFile(tmp / "opens",
                    "#!/bin/sh\nmkdir -p \"$2/desktop\" && chmod 777 \"$2/desktop\"\n"
                    "exit 1\n",
                    0755);
    test::writeFile(tmp / "opens-clients",
                    "#!/bin/sh\nmkdir -p \"$2/desktop/clients\" && "
                    "chmod 777 \"$2/desktop/clients\"\nexit 1\n",
                    0755);
    std::filesystem::create_directories(tmp / "logless/desktop/desktop.log");
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {tmp / "file/home", tmp / "fails", tmp / "file is not a folder"},
        {tmp / "shared", tmp / "opens", "desktop can be written by others (mode 0777)"},
        {tmp / "crowded", tmp / "opens-clients", "clients can be written by others (mode 0777)"},
        {tmp / "logless", tmp / "fails", "desktop.log is not a writable file"},
        {tmp / "home", tmp / "fails", "its driver is missing"},
        {tmp / "home", tmp / "loses",
         "ended at once (exit status 0) without taking " + tmp / "home"},
        {tmp / std::string(100, 'h'), tmp / "fails", "is too long for a Unix socket"},
        {tmp / "home", tmp / "none", "cannot run " + tmp / "none: No such file"},
        {"relative", tmp / "fails", "must be an absolute path"},
    };
    for (const auto& [home, host, cause] : cases) {
        quorva::StartOptions options;
        options.home = home;
        options.host = host;
        options.timeout = 500ms;
        const auto started = quorva::startHost(options);
        EXPECT_NE(started.cause().find(cause), std::string::npos) << started.cause();
    }
    // Telling why makes nothing a host that stopped early had not made itself.
    EXPECT_FALSE(test::pathExists(tmp / "home"));
    // The account itself, whichever the start noticed first: the host's own rules in its order.
    const std::pair<std::string, std::string> told[] = {
        {tmp / "shared", "desktop can be written by others (mode 0777)"},
        {tmp / "crowded", "clients can be written by others (mode 0777)"},
    };
    for (const auto& [home, cause] : told)
        EXPECT_NE(quorva::detail::whyHostFailed(home, tmp / "fails", 1 << 8).find(cause),
                  std::string::npos)
            << home;
}

}  // namespace
