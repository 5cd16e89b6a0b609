#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <thread>

#include "app/options.h"
#include "app/quorva_desktop.h"
#include "contract/registration.h"
#include "platform/child_process.h"
#include "platform/files.h"
#include "platform/runtime_folder.h"
#include "supervision/clients.h"
#include "supervision/status_file.h"
#include "support/fake_system.h"
#include "support/test_support.h"

namespace {

using namespace supervision;
using contract::registrationNumber;

TEST(Rules, HomeAndEnglishArguments) {
    using Home = std::optional<std::string>;
    // The home with the working folder at /cwd, and with it removed.
    const std::tuple<std::vector<std::string>, Home, Home, bool> cases[] = {
        {{"q", "--home", "--english"}, "/cwd/--english", std::nullopt, true},
        {{"q", "--home", "~/x", "--home", "/b"}, "/cwd/~/x", std::nullopt, false},
        {{"--HOME", "/x", "--home=/y", "-home", "--home"}, "/u/.quorva", "/u/.quorva", false},
        {{"--home", "/p0/", "--English", "--english=1", "-english", "--engl"}, "/p0", "/p0", false},
        {{"--english", "q", "--home", ""}, "/cwd", std::nullopt, true},
    };
    const auto cwd = [] { return Home("/cwd"); };
    const auto gone = [] { return Home(); };
    for (const auto& [args, home, homeWithoutCwd, english] : cases) {
        EXPECT_EQ(std::pair(app::homeFolder(args, cwd, "/u"), app::englishRequested(args)),
                  std::pair(home, english));
        EXPECT_EQ(app::homeFolder(args, gone, "/u"), homeWithoutCwd);
    }
    EXPECT_EQ(app::homeFolder({"q"}, cwd, std::nullopt), std::nullopt);  // no user home at all
}

TEST(Rules, RegistrationNameIsASigned32BitDecimal) {
    const char* numbers[] = {"812", "+812", "007", "-0", "-2147483648", "2147483647"};
    const std::int32_t values[] = {812, 812, 7, 0, INT32_MIN, INT32_MAX};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(registrationNumber(numbers[i]), values[i]) << numbers[i];
    for (const char* name : {"abc", "812.pid", "0x1F", "2147483648", "18446744073709551617", "+",
                             "-", " 812", "812 ", "８１２", "٨١٢", "", ".DS_Store"})
        EXPECT_EQ(registrationNumber(name), std::nullopt) << name;
}

TEST(ScanClients, OnePassKeepsOnlyLiveRegistrations) {
    test::TempDir tmp;
    const std::string clients = tmp / "clients", live = std::to_string(::getpid());
    ASSERT_TRUE(platform::createDirectory(clients + "/junk", 0700));  // links back to clients
    ASSERT_EQ(::symlink(clients.c_str(), (clients + "/junk/link").c_str()), 0);
    test::writeFile(clients + "/" + live, "");
    for (int i = 0; i < 6; ++i) {  // enough to follow the live entry in any listing order
        auto dead = test::spawnProcess({"/bin/true"}, {}, tmp.path());
        test::writeFile(clients + "/" + std::to_string(dead.pid), "");
        ASSERT_EQ(dead.wait(), 0);
    }
    const auto scan = scanClients(*platform::Folder::open(clients), platform::Deadline::never());
    EXPECT_TRUE(scan.live && scan.finished);
    EXPECT_EQ(platform::listDirectory(clients), std::vector<std::string>{live});
}

// Out of time, a pass stops where it is: what it did not look at stays, and it cannot tell that
// no client is live. An empty folder is looked at in full however late.
TEST(ScanClients, PassOutOfTimeLeavesTheRestAndCountsAsAttended) {
    test::TempDir tmp;
    ASSERT_TRUE(platform::createDirectory(tmp / "clients/junk/sub", 0700));
    for (const char* file : {"clients/junk/file", "clients/file", "clients/1.pid"})
        test::writeFile(tmp / file, "");
    ASSERT_TRUE(platform::createDirectory(tmp / "empty", 0700));
    const auto clients = *platform::Folder::open(tmp / "clients");
    const auto late = platform::Deadline::after(std::chrono::milliseconds(0));
    EXPECT_EQ(clients.remove("junk", late), platform::Removal::Unfinished);
    const auto scan = scanClients(clients, late);
    EXPECT_TRUE(!scan.live && !scan.finished && scan.attended());
    using ::testing::UnorderedElementsAre;
    EXPECT_THAT(*platform::listDirectory(tmp / "clients/junk"),
                UnorderedElementsAre("file", "sub"));
    EXPECT_THAT(*platform::listDirectory(tmp / "clients"),
                UnorderedElementsAre("1.pid", "file", "junk"));
    EXPECT_FALSE(scanClients(*platform::Folder::open(tmp / "empty"), late).attended());
    EXPECT_FALSE(scanClients(clients, platform::Deadline::never()).attended());
    EXPECT_EQ(platform::listDirectory(tmp / "clients"), std::vector<std::string>{});
}

// A process of another user: pid 1 for anyone but root, who scans as 'nobody' against itself.
TEST(ScanClients, ProcessThatMayNotBeSignalledCountsAsGone) {
    test::TempDir tmp;
    const bool root = ::geteuid() == 0;
    test::writeFile(tmp / std::to_string(root ? ::getpid() : 1), "");
    const auto scan = [&] {
        return scanClients(*platform::Folder::open(tmp.path()), platform::Deadline::never()).live;
    };
    if (root) {
        ASSERT_EQ(::chown(tmp.path().c_str(), 65534, 65534), 0);
        EXPECT_EXIT(::_exit(::setgid(65534) || ::setuid(65534) || scan()),
                    ::testing::ExitedWithCode(0), "");
    } else {
        EXPECT_FALSE(scan());
    }
    EXPECT_EQ(platform::listDirectory(tmp.path()), std::vector<std::string>{});
}

TEST(StatusFile, ExactBytesForEachProbeCombination) {
    const std::string expected = R"(
{"accessibility":true,"bundle_id":"com.quorva.desktop","host_pid":42,"owner":"Quorva","screen_recording":true,"status":"ready"}
{"accessibility":true,"bundle_id":"com.quorva.desktop","host_pid":1,"owner":"Quorva","screen_recording":false,"status":"permission_required"}
{"accessibility":false,"bundle_id":"com.quorva.desktop","host_pid":2147483647,"owner":"Quorva","screen_recording":true,"status":"permission_required"}
{"accessibility":false,"bundle_id":"com.quorva.desktop","host_pid":7,"owner":"Quorva","screen_recording":false,"status":"permission_required"}
)";
    const int cases[][3] = {{1, 1, 42}, {1, 0, 1}, {0, 1, INT32_MAX}, {0, 0, 7}};
    test::TempDir tmp;
    const std::string path = tmp / "status.json";
    const auto runtime = *platform::RuntimeFolder::open(tmp.path());
    std::string seen;
    for (const auto& [ax, screen, pid] : cases) {
        ASSERT_TRUE(writeStatusFile(runtime, makeHostStatus(ax, screen, pid)));
        seen += "\n" + test::readFile(path);
    }
    EXPECT_EQ(seen + "\n", expected);
}

TEST(StatusFile, FailedWriteKeepsTheOldFileAndLeavesNoLitter) {
    test::TempDir tmp;
    const std::string path = tmp / "status.json";
    const auto runtime = *platform::RuntimeFolder::open(tmp.path());
    ASSERT_TRUE(writeStatusFile(runtime, makeHostStatus(false, false, 1)));
    // In a child under `limit` of `resource` (limits bind root too, unlike permission bits): the
    // write fails with the cause met at the failure, not what the clearing up after it met.
    const auto failsWith = [&](int resource, rlim_t limit, platform::Step step, int code) {
        const auto write = [&] {
            const rlimit bound{limit, limit};
            ::signal(SIGXFSZ, SIG_IGN);  // a write past the size limit fails instead
            if (::setrlimit(resource, &bound) != 0) return 1;
            const auto written = writeStatusFile(runtime, makeHostStatus(1, 1, 2));
            return written ? 2 : written.error().step != step ? 3 : written.error().code != code;
        };
        EXPECT_EXIT(::_exit(write()), ::testing::ExitedWithCode(0), "") << resource;
    };
    failsWith(RLIMIT_FSIZE, 16, platform::Step::Write, EFBIG);
    const int next = ::dup(0);  // the lowest free descriptor: with no other to spare,
    ::close(next);              // the temporary cannot be made
    failsWith(RLIMIT_NOFILE, static_cast<rlim_t>(next), platform::Step::CreateFile, EMFILE);
    EXPECT_EQ(test::readFile(path), serialise(makeHostStatus(false, false, 1)));
    EXPECT_EQ(platform::listDirectory(tmp.path()), std::vector<std::string>{"status.json"});
    // Whatever stands in the file's way goes: a folder with what is in it,
    // under either name.
    for (const char* name : {"status.json", ".status.json.tmp"}) {
        SCOPED_TRACE(name);
        platform::removeItem(tmp / name);
        ASSERT_TRUE(platform::createDirectory(tmp / (std::string(name) + "/a/b"), 0700));
        EXPECT_TRUE(writeStatusFile(runtime, makeHostStatus(1, 1, 2)));
        EXPECT_EQ(test::readFile(path), serialise(makeHostStatus(1, 1, 2)));
        EXPECT_EQ(platform::listDirectory(tmp.path()), std::vector<std::string>{"status.json"});
    }
}

// A failure says which step met which error at which path, whatever the
// steps after it (a close on the way out) did to errno.
TEST(Folders, FailuresNameTheirStepErrorAndPath) {
    using platform::Step;
    test::TempDir tmp;
    test::writeFile(tmp / "file", "");
    std::filesystem::create_symlink(tmp / "nothing", tmp / "dangling");
    std::filesystem::create_symlink(tmp / "loop", tmp / "loop");
    std::filesystem::create_directory(tmp / "real");
    std::filesystem::create_symlink(tmp / "real", tmp / "linked");
    std::filesystem::create_directory(tmp / "wide");
    std::filesystem::permissions(tmp / "wide", std::filesystem::perms::all);
    ::mkfifo((tmp / "real/fifo").c_str(), 0600);
    std::filesystem::create_directory(tmp / "real/sub");
    std::filesystem::create_directory_symlink(tmp / "real/sub", tmp / "real/via");
    test::writeFile(tmp / "real/twice", "");
    std::filesystem::create_hard_link(tmp / "real/twice", tmp / "other-name");
    std::filesystem::create_directory(tmp / "real/shared");
    std::filesystem::permissions(tmp / "real/shared", std::filesystem::perms::all);
    const auto is = [](const platform::Error& e, Step step, int code, const std::string& path) {
        EXPECT_EQ(e.step, step) << e.path;
        EXPECT_EQ(e.code, code) << e.path << ": " << std::strerror(e.code);
        EXPECT_EQ(e.path, path);
    };
    // Made with exactly the mode asked for, whatever the umask.
    const mode_t umask = ::umask(0777);
    const bool made = platform::createFile(tmp / "exact", 0600).ok() &&
                      platform::createDirectory(tmp / "exact-folder/sub", 0700).ok();
    ::umask(umask);
    ASSERT_TRUE(made);
    EXPECT_EQ(test::modeOf(tmp / "exact"), 0600u);
    EXPECT_EQ(test::modeOf(tmp / "exact-folder/sub"), 0700u);
    // Asked first without acting, then done: the same answer, and nothing made by the asking.
    const auto folder = [&](const std::string& path, Step step, int code, const std::string& at) {
        is(platform::canCreateDirectory(path).error(), step, code, at);
        is(platform::createDirectory(path, 0700).error(), step, code, at);
    };
    folder(tmp / "file/a/b", Step::MakeFolder, ENOTDIR, tmp / "file");
    folder(tmp / "dangling/a", Step::FollowLink, ENOENT, tmp / "dangling");
    folder(tmp / "loop/a", Step::FollowLink, ELOOP, tmp / "loop");
    EXPECT_TRUE(platform::canCreateDirectory(tmp / "linked/a/b"));
    EXPECT_FALSE(test::pathExists(tmp / "real/a"));
    EXPECT_TRUE(platform::createDirectory(tmp / "linked/a/b", 0700));
    EXPECT_TRUE(platform::canCreateDirectory(tmp / "linked/a/b"));
    is(platform::createFile(tmp / "file", 0600).error(), Step::CreateFile, EEXIST, tmp / "file");
    is(platform::listDirectory(tmp / "file").error(), Step::OpenFolder, ENOTDIR, tmp / "file");
    is(platform::realPath(tmp / "nothing").error(), Step::Resolve, ENOENT, tmp / "nothing");
    is(platform::RuntimeFolder::open(tmp / "wide").error(), Step::Trust, EPERM, tmp / "wide");
    is(platform::RuntimeFolder::open(tmp / "dangling").error(), Step::FollowLink, ENOENT,
       tmp / "dangling");
    const auto runtime = *platform::RuntimeFolder::open(tmp / "linked");
    is(runtime.openLog("missing", false, 0600).error(), Step::OpenFile, ENOENT, "missing");
    is(runtime.openLog("fifo", false, 0600).error(), Step::OpenFile, ENXIO, "fifo");  // no reader
    is(runtime.openLog("twice", false, 0600).error(), Step::Trust, EPERM, "twice");
    is(runtime.openLog("sub", false, 0600).error(), Step::OpenFile, EISDIR, "sub");
    is(runtime.createFolder("fifo", 0700).error(), Step::MakeFolder, ENOTDIR, "fifo");
    is(runtime.openFolder("shared").error(), Step::Trust, EPERM, "shared");
    is(runtime.openFolder("fifo").error(), Step::OpenFolder, ENOTDIR, "fifo");
    is(runtime.openFolder("via").error(), Step::OpenFolder, ENOTDIR,
       "via");                     // never through a link
    if (::geteuid() == 0) return;  // root makes folders anywhere
    std::filesystem::permissions(
        tmp / "real", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    folder(tmp / "linked/b/c", Step::MakeFolder, EACCES, tmp / "linked/b");
    is(runtime.writeAtomically("status.json", "{}").error(), Step::CreateFile, EACCES,
       ".status.json.tmp");
    std::filesystem::permissions(tmp / "real", std::filesystem::perms::owner_all);
}

// The window's buttons start the desktop's URL opener for real: it must get no secrets.
TEST(Requests, UrlOpenerGetsNoSecrets) {
    test::TempDir tmp;
    test::writeFile(tmp / "xdg-open",
                    "#!/bin/sh\n{ echo \"$1\"; env; } > out.tmp && mv out.tmp out\n", 0755);
    const std::string path = std::getenv("PATH");
    ::setenv("PATH", (tmp.path() + ":" + path).c_str(), 1);
    for (const char* name : {"SERVICE_API_KEY", "VOV_DRIVER_MODE", "KEEP_ME"})
        ::setenv(name, "x", 1);
    ASSERT_EQ(::chdir(tmp.path().c_str()), 0);
    QuorvaDesktop host(platform::realSystem(), {"q", "--home", tmp / "home"});
    for (const auto& [grant, pane] : {std::pair(&QuorvaDesktop::grantAX, "Accessibility"),
                                      {&QuorvaDesktop::grantScreen, "ScreenCapture"}}) {
        std::filesystem::remove(tmp / "out");
        (host.*grant)();
        ASSERT_TRUE(test::waitFor([&] { return test::pathExists(tmp / "out"); }));
        const std::string out = test::readFile(tmp / "out");
        EXPECT_TRUE(
            out.starts_with("x-apple.systempreferences:com.apple.preference.security?Privacy_" +
                            std::string(pane)));
        EXPECT_THAT(out, ::testing::HasSubstr("\nKEEP_ME=x\n"));
        EXPECT_THAT(out, ::testing::Not(::testing::HasSubstr("SERVICE_API_KEY")));
        EXPECT_THAT(out, ::testing::Not(::testing::HasSubstr("VOV_DRIVER_MODE")));
    }
    ::setenv("PATH", path.c_str(), 1);
}

// However often it is told to, a child gets one SIGTERM.
TEST(ChildProcess, TerminateSignalsOnlyOnce) {
    test::TempDir tmp;
    platform::ChildProcess child;
    child.setExecutable("/bin/sh");
    child.setEnvironment({{"PATH", "/usr/bin:/bin"}});
    child.setArguments({"-c", "trap 'echo >> terms' TERM; cd " + tmp.path() +
                                  " && echo $$ > pid; while :; do sleep 0.05; done"});
    ASSERT_TRUE(child.launch());
    ASSERT_TRUE(test::waitFor([&] { return !test::readFile(tmp / "pid").empty(); }));
    child.terminate();
    ASSERT_TRUE(test::waitFor([&] { return test::readFile(tmp / "terms") == "\n"; }));
    child.terminate();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(test::readFile(tmp / "terms"), "\n");
    ::kill(std::stoi(test::readFile(tmp / "pid")), SIGKILL);
    EXPECT_TRUE(test::waitFor([&] { return !child.isRunning(); }));
}

using test::FakeSystem;

TEST(Tick, QuitsOnceUnattendedForMoreThanSixtySeconds) {
    test::TempDir tmp;
    FakeSystem system;
    QuorvaDesktop host(system, {"q", "--home", tmp.path()});  // idle since 100
    const std::string me = tmp / ("desktop/clients/" + std::to_string(::getpid()));
    ASSERT_TRUE(platform::createDirectory(tmp / "desktop/clients", 0700));
    ASSERT_EQ(host.takeRuntimeFolder(), platform::LockOutcome::Acquired);
    const double clocks[] = {160, 160.001, 170, 230, 40, 101, 230.25};
    const bool liveClient[] = {0, 0, 1, 0, 0, 0, 0};
    const int quitsSoFar[] = {0, 1, 1, 1, 1, 1, 2};
    for (int i = 0; i < 7; ++i) {
        liveClient[i] ? test::writeFile(me, "") : void(platform::removeItem(me));
        system.clock = clocks[i];
        host.tick();
        EXPECT_EQ(system.terminations, quitsSoFar[i]) << clocks[i];
    }
}

}  // namespace
