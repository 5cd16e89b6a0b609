// The built host against a display that comes late or stops, and against a toolkit that is
// broken or blocks: from a private copy of the app folder, as in host_test.cpp.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "support/test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Late : test::HostTest {
    bool ready() const { return has(read("status.json"), "\"status\":\"ready\""); }
    static bool mapsQt(pid_t pid) {
        return has(test::readFile("/proc/" + std::to_string(pid) + "/maps"), "libQt6");
    }
};

// Times of each rewrite of status.json (one per tick), from inotify, until `until` holds.
template <typename F>
std::vector<Clock::time_point> statusWrites(const std::string& folder, F until) {
    std::vector<Clock::time_point> writes;
    const int fd = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    ::inotify_add_watch(fd, folder.c_str(), IN_MOVED_TO);
    test::waitFor(
        [&] {
            alignas(inotify_event) char buf[4096];
            for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
                for (char* p = buf; p < buf + n;
                     p += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(p)->len)
                    if (std::string(reinterpret_cast<inotify_event*>(p)->name) == "status.json")
                        writes.push_back(Clock::now());
            return until(writes);
        },
        30s);
    ::close(fd);
    return writes;
}

// The probe connection is made again until a server answers: one started seven seconds after
// the host (the pause between tries never grows past half a second), one stopped while the host
// starts or while it runs and then continued, and one that ends under a host that has shown no
// window and starts again. Meanwhile the ticks go on, saying "not
// held", and a quit is acted on at once.
TEST_F(Late, ServerThatComesLaterIsSeenWithinTwoTicks) {
    for (const std::string how : {"started late", "stopped at start", "stopped", "restarted"}) {
        SCOPED_TRACE(how);
        fs::remove_all(home);
        test::Xvfb x({}, true);
        if (how != "started late") {
            ASSERT_TRUE(x.start());
        }
        if (how == "stopped at start") x.kill(SIGSTOP);
        auto host = start("", "export DISPLAY=" + x.display());
        if (how == "restarted" || how == "stopped") {
            ASSERT_TRUE(test::waitFor([&] { return ready(); }));
            how == "stopped" ? x.kill(SIGSTOP) : x.stop();
        }
        // Not held (after the server's end, from the second tick: the first may answer late).
        ASSERT_TRUE(test::waitFor([&] { return exists("status.json") && !ready(); }));
        const std::size_t ticks = how == "started late" ? 7 : 2;
        const auto writes =
            statusWrites(home + "/desktop", [&](const auto& w) { return w.size() >= ticks; });
        EXPECT_EQ(writes.size(), ticks) << "ticks stalled";
        EXPECT_FALSE(ready());
        if (how != "stopped") {
            how == "stopped at start" ? x.kill(SIGCONT) : void(x.start());
            EXPECT_TRUE(test::waitFor([&] { return ready(); }, 3s));  // its own start included
        }
        host.kill(SIGTERM);
        expectEnd(host, 0, 1s);
    }
}

// Each start's first status says what the display answers, waiting a moment for its first
// answer (a server slow to answer, as on a busy machine at login): a client that checks once
// after the start must not be told "permission_required" for nothing.
TEST_F(Late, FirstStatusCarriesTheDisplaysFirstAnswer) {
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        fs::remove_all(home);
        x.kill(SIGSTOP);
        auto host = start("", "export DISPLAY=" + x.display());
        std::this_thread::sleep_for(100ms);
        x.kill(SIGCONT);
        std::string first;
        ASSERT_TRUE(test::waitFor([&] { return !(first = read("status.json")).empty(); }));
        EXPECT_TRUE(has(first, "\"status\":\"ready\"")) << first;
        host.kill(SIGTERM);
        expectEnd(host, 0, 2s);
    }
}

// Once the window is on the X server, a stopped server holds no tick: a request for the window
// waits for the server, which would hold the toolkit, and is taken once the server answers.
TEST_F(Late, StoppedServerHoldsNoTickOnceTheWindowIsOnIt) {
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    auto host = start("--permissions", "export DISPLAY=" + x.display());
    ASSERT_TRUE(test::waitFor([&] { return ready(); }));
    ASSERT_TRUE(test::waitFor([&] { return x.hasWindow("دسترسی‌های کوروا"); }));
    std::this_thread::sleep_for(1s);  // the window has settled
    x.kill(SIGSTOP);
    ASSERT_TRUE(test::waitFor([&] { return !ready(); }, 3s));
    test::writeFile(at("show-permissions"), "");
    const auto writes =
        statusWrites(home + "/desktop", [](const auto& w) { return w.size() >= 3; });
    EXPECT_EQ(writes.size(), 3u) << "ticks stalled";
    for (std::size_t i = 1; i < writes.size(); ++i) EXPECT_LT(writes[i] - writes[i - 1], 1500ms);
    EXPECT_TRUE(exists("show-permissions"));
    x.kill(SIGCONT);
    EXPECT_TRUE(test::waitFor([&] { return !exists("show-permissions") && ready(); }, 3s));
    host.kill(SIGTERM);
    expectEnd(host, 0, 2s);
}

// No Qt until a window is asked for; then Qt comes, the window shows, and the ticks go on as
// they were: none lost, none doubled in the hand-over to Qt's event loop.
TEST_F(Late, QtLoadsWithTheFirstWindowAndTicksKeepTheirPace) {
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    auto host = start("--english", "export DISPLAY=" + x.display());
    ASSERT_TRUE(test::waitFor([&] { return ready(); }));
    EXPECT_FALSE(mapsQt(host.pid));
    bool asked = false, shown = false;
    const auto writes = statusWrites(home + "/desktop", [&](const auto& w) {
        if (w.size() == 2 && !asked) test::writeFile(at("show-permissions"), ""), asked = true;
        if (asked && !shown) shown = x.hasWindow("Quorva permissions");
        return shown && w.size() >= 6;
    });
    EXPECT_TRUE(shown);
    EXPECT_TRUE(mapsQt(host.pid));
    for (std::size_t i = 1; i < writes.size(); ++i) {
        const auto gap = writes[i] - writes[i - 1];
        EXPECT_TRUE(gap > 500ms && gap < 1500ms) << i << ": " << (gap / 1ms) << " ms";
    }
    host.kill(SIGTERM);
    expectEnd(host, 0, 2s);
}

// A window that cannot be had (a truncated library or a FIFO in a Qt library's place on
// LD_LIBRARY_PATH, no toolkit module any more) leaves the host supervising, never crashed or
// blocked. Where the toolkit blocks in its own start (fontconfig reading a FIFO for its
// configuration), the ticks stop, but a quit is acted on all the same, within a second (the
// driver then goes as with a killed host). The module goes last: it stays a FIFO.
TEST_F(Late, ToolkitThatCannotBeHadNeitherCrashesNorHoldsTheHost) {
    const std::string module = app + "/lib/quorva-qt.so";
    fs::create_directories(tmp / "truncated"), fs::create_directories(tmp / "fifo");
    // ICU's: not the module's own need, but Qt Core's, found through the system's folders. Cut
    // just after its dynamic section: what it needs can be read, its data cannot (the loader
    // would die of SIGBUS on it).
    ASSERT_EQ(std::system(("icu=$(ldd " + module + " | awk '/libicuuc/ {print $3}') && " +
                           "set -- $(readelf -lW $icu | grep DYNAMIC) && head -c $(($2 + $5)) " +
                           "$icu > " + tmp / "truncated/$(basename $icu)")
                              .c_str()),
              0);
    for (const auto& fifo : {tmp / "fifo/libQt6Widgets.so.6", tmp / "fonts.conf"})
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const auto& [before, after, supervising] :
         std::vector<std::tuple<std::string, std::string, bool>>{
             {"export LD_LIBRARY_PATH=" + tmp / "truncated", "", true},
             {"export LD_LIBRARY_PATH=" + tmp / "fifo", "", true},
             {"export FONTCONFIG_FILE=" + tmp / "fonts.conf", "", false},
             {":", "rm " + module + " && mkfifo " + module, true}}) {
        SCOPED_TRACE(before + after);
        fs::remove_all(home);
        auto host = start("", before);
        ASSERT_TRUE(test::waitFor([&] { return exists("status.json"); }));
        if (!after.empty()) {
            ASSERT_EQ(std::system(after.c_str()), 0);
        }
        test::writeFile(at("show-permissions"), "");
        EXPECT_TRUE(test::waitFor([&] { return !exists("show-permissions"); }, 3s));
        if (supervising) {
            const auto writes =
                statusWrites(home + "/desktop", [](const auto& w) { return w.size() >= 2; });
            EXPECT_EQ(writes.size(), 2u);
            EXPECT_FALSE(mapsQt(host.pid));
        }
        std::this_thread::sleep_for(300ms);
        host.kill(SIGTERM);
        expectEnd(host, 0, 1500ms);
    }
}

}  // namespace
