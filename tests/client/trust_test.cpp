// What a client believes: only what its own user owns and nobody else can
// write, a status its host has written lately, and a signal only for the
// process that holds the home.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>

#include "client/trust.h"
#include "platform/files.h"
#include "quorva/client.h"
#include "support/test_support.h"

namespace {

using namespace std::chrono_literals;

// A home whose host is this test process: it holds the runtime folder's lock.
// Given another pid, the file names that one and nobody holds the lock.
struct HeldHome {
    test::TempDir tmp;
    const std::string home = tmp.path(), runtime = tmp / "desktop";
    const std::string file = runtime + "/status.json", socket = runtime + "/driver.sock";
    platform::FileHandle lock;
    explicit HeldHome(int pid = ::getpid()) {
        ::mkdir(runtime.c_str(), 0700);
        test::writeFile(file, R"({"accessibility":true,"bundle_id":"b","host_pid":)" +
                                  std::to_string(pid) +
                                  R"(,"owner":"Quorva","screen_recording":true,"status":"ready"})");
        if (pid != ::getpid()) return;
        lock = platform::FileHandle(::open(runtime.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        ::flock(lock.fd(), LOCK_EX | LOCK_NB);
    }
    void age(long seconds) const {
        const timespec now{::time(nullptr) - seconds, 0}, times[2] = {now, now};
        ::utimensat(AT_FDCWD, file.c_str(), times, 0);
    }
};

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

// Anyone who can write there can forge the status or serve their own socket.
TEST(Trust, WritableByOthersIsRefusedWithTheFix) {
    HeldHome h;
    platform::FileHandle server(::socket(AF_UNIX, SOCK_STREAM, 0));
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", h.socket.c_str());
    ASSERT_EQ(::bind(server.fd(), reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::listen(server.fd(), 4);
    ASSERT_TRUE(quorva::readStatus(h.home).ready());
    // What, its mode, the folder's, the fix; whether the socket is refused too.
    const std::tuple<std::string, mode_t, mode_t, std::string, bool> cases[] = {
        {h.runtime, 0777, 0777, "chmod 700 " + h.runtime, true},
        {h.runtime, 0703, 0703, "chmod 700 " + h.runtime, true},
        {h.file, 0646, 0701, "restart the host with umask 022", false},
    };
    for (const auto& [path, mode, folderMode, fix, socketToo] : cases) {
        ::chmod(path.c_str(), mode);
        ::chmod(h.runtime.c_str(), folderMode);
        const auto s = quorva::readStatus(h.home);
        EXPECT_FALSE(s.present || s.running);
        EXPECT_NE(s.error.find(path + " can be written by others"), std::string::npos) << s.error;
        EXPECT_NE(s.error.find(fix), std::string::npos) << s.error;
        EXPECT_EQ(quorva::waitForDriver(h.home, 0ms).ok(), !socketToo) << path;
        // The fix works; and those who cannot pass the folder cannot reach the file.
        ::chmod(h.runtime.c_str(), 0700);
        EXPECT_TRUE(quorva::readStatus(h.home).ready()) << path;
        ::chmod(path.c_str(), path == h.file ? 0644 : 0700);
    }
    // A socket's mode says who may connect, not who made it.
    ::chmod(h.socket.c_str(), 0777);
    EXPECT_TRUE(quorva::waitForDriver(h.home, 0ms).ok());
}

TEST(Trust, AStatusItsHostHasNotRewrittenFor3SecondsIsStale) {
    HeldHome h;
    // Seconds ago, stale; -100: the clock was set back since it was written.
    const std::pair<long, bool> cases[] = {{0, false}, {2, false}, {5, true}, {-100, false}};
    for (const auto& [age, stale] : cases) {
        h.age(age);
        const auto s = quorva::readStatus(h.home);
        EXPECT_TRUE(s.running);
        EXPECT_EQ(s.stale, stale) << age;
        EXPECT_EQ(s.ready(), !stale) << age;
        EXPECT_NEAR(s.ageSeconds, std::max(age, 0L), 1.1) << age;
    }
    h.lock = {};  // the host has ended: an old file is just not running
    EXPECT_FALSE(quorva::readStatus(h.home).stale);
}

// The file's pid is a live process but not the one holding the home.
TEST(Trust, StopSignalsOnlyTheProcessHoldingTheHome) {
    test::TempDir out;
    test::Process other = test::spawnProcess({"/bin/sleep", "100"}, {}, out.path());
    HeldHome h(other.pid);
    bool wasRunning = true;
    EXPECT_TRUE(quorva::stopHost(h.home, 1s, &wasRunning).ok());
    EXPECT_FALSE(wasRunning);
    EXPECT_EQ(other.wait(200ms), -1) << "a process that does not hold the home was signalled";
}

}  // namespace
