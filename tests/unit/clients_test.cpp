#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/files.h"
#include "supervision/clients.h"
#include "support/test_support.h"
#include "unit_support.h"

namespace {

namespace fs = std::filesystem;
using ::testing::UnorderedElementsAreArray;

pid_t reapedPid() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

TEST(ScanClients, KeepsLiveRegistrationsAndRemovesEverythingElse) {
    test::TempDir tmp;
    const auto sleeper = test::spawnProcess({"/bin/sleep", "60"}, {}, tmp.path());
    ASSERT_GT(sleeper.pid, 0);
    const std::string live = std::to_string(sleeper.pid), self = std::to_string(::getpid());
    const std::string dead1 = std::to_string(reapedPid()), dead2 = std::to_string(reapedPid());

    // Things a non-numeric folder links to must survive its removal.
    test::writeFile(tmp / "outside.txt", "keep");
    fs::create_directory(tmp / "outside-dir");
    test::writeFile(tmp / "outside-dir/inner", "keep");

    const struct {
        const char* name;
        std::vector<std::string> files, folders;
        std::vector<std::string> kept;
        bool live;
    } cases[] = {
        {"live child among many dead and junk",
         {live, dead1, "abc", "812.pid", "2147483648", ".DS_Store", " 812"},
         {dead2, "junk"},
         {live},
         true},
        {"folder named after a live pid", {}, {self}, {self}, true},
        {"only dead and junk", {dead1, "-"}, {dead2, ".hidden"}, {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string clients = tmp / "clients";
        ASSERT_TRUE(platform::createDirectory(clients, 0700));
        for (const auto& f : c.files) test::writeFile(clients + "/" + f, "x");
        for (const auto& d : c.folders) {
            const std::string folder = clients + "/" + d;
            fs::create_directory(folder);
            test::writeFile(folder + "/content", "x");
            fs::create_symlink(tmp / "outside.txt", folder + "/f");
            fs::create_directory_symlink(tmp / "outside-dir", folder + "/d");
        }

        EXPECT_EQ(supervision::scanClients(clients), c.live);
        EXPECT_THAT(platform::listDirectory(clients).value(), UnorderedElementsAreArray(c.kept));
        EXPECT_EQ(test::readFile(tmp / "outside.txt"), "keep");
        EXPECT_EQ(test::readFile(tmp / "outside-dir/inner"), "keep");
        ASSERT_TRUE(platform::removeItem(clients));
    }
}

TEST(ScanClients, ProcessThatMayNotBeSignalledCountsAsGone) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a scan as another user";
    test::TempDir tmp;
    const std::string clients = tmp / "clients";
    ASSERT_TRUE(platform::createDirectory(clients, 0700));
    ASSERT_EQ(::chown(tmp.path().c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chown(clients.c_str(), 65534, 65534), 0);
    // This test process runs as root, so 'nobody' may not signal it.
    const std::string rootOwned = clients + "/" + std::to_string(::getpid());
    test::writeFile(rootOwned, "");

    const int code = unit::exitCodeInChild([&] {
        if (!unit::becomeNobody()) return 10;
        if (::access(clients.c_str(), W_OK | X_OK) != 0) return 11;
        return supervision::scanClients(clients) ? 1 : 0;
    });
    EXPECT_EQ(code, 0) << "10: cannot become nobody; 11: nobody cannot reach $TMPDIR";
    EXPECT_FALSE(test::pathExists(rootOwned));
}

}  // namespace
