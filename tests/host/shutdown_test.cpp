// Quitting the built host: from outside by signal, and on its own when idle.
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "host/host_run.h"

namespace host_test {
namespace {

namespace fs = std::filesystem;

bool isSocket(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

class QuitSignal : public HostRun, public ::testing::WithParamInterface<int> {};

// The driver here notes SIGTERM but keeps running: the host must not wait.
TEST_P(QuitSignal, StopsDriverRemovesSocketPathAndLeavesTheRest) {
    scriptDriver("trap 'echo got TERM' TERM\n: > \"$4\"\nwhile :; do sleep 0.1; done\n");
    const std::string client = entry("clients/" + std::to_string(::getpid()));
    fs::create_directories(entry("clients"));
    test::writeFile(client, "");
    auto host = start();
    ASSERT_TRUE(test::waitFor([&] {
        return test::pathExists(entry("driver.sock")) && test::pathExists(entry("status.json"));
    }));
    const std::string status = test::readFile(entry("status.json"));

    host.kill(GetParam());
    expectQuietExit(host, 3s);
    EXPECT_TRUE(test::waitFor([&] { return log() == "got TERM\n"; }, 3s)) << log();
    EXPECT_TRUE(driverAlive());
    EXPECT_FALSE(test::pathExists(entry("driver.sock")));
    EXPECT_EQ(test::readFile(entry("status.json")), status);
    EXPECT_TRUE(test::pathExists(client));
}

INSTANTIATE_TEST_SUITE_P(Host, QuitSignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const auto& info) { return std::string(sigabbrev_np(info.param)); });

TEST_F(HostRun, StandInDriverServesSocketAndStopsWithHost) {
    auto host = start();
    ASSERT_TRUE(test::waitFor([&] { return log().find(": serving ") != std::string::npos; }));
    EXPECT_NE(log().find(": serving " + entry("driver.sock") + "\n"), std::string::npos);
    EXPECT_TRUE(isSocket(entry("driver.sock")));

    host.kill(SIGTERM);
    expectQuietExit(host, 3s);
    EXPECT_TRUE(test::waitFor([&] { return log().find(": stopping") != std::string::npos; }));
    EXPECT_FALSE(test::pathExists(entry("driver.sock")));
}

// An X logout: the display goes away under the host, and Qt ends the process
// itself. The driver must still be stopped and the socket path removed.
TEST_F(HostRun, LostDisplayStillStopsDriver) {
    auto xvfb = std::make_unique<test::Xvfb>();
    ASSERT_TRUE(xvfb->ok());
    auto host = start({}, {}, "", xvfb->display());
    ASSERT_TRUE(test::waitFor([&] { return isSocket(entry("driver.sock")); }));
    xvfb.reset();
    host.wait();
    EXPECT_TRUE(test::waitFor([&] { return log().find(": stopping") != std::string::npos; }));
    EXPECT_FALSE(test::pathExists(entry("driver.sock")));
}

// The one slow test: nothing attends the host, so it ends on its own at the
// first tick more than a minute after it started.
TEST_F(HostRun, SlowIdleHostEndsAfterAMinuteAndStopsDriver) {
    const auto started = std::chrono::steady_clock::now();
    auto host = start();
    ASSERT_TRUE(test::waitFor([&] { return isSocket(entry("driver.sock")); }));
    expectQuietExit(host, 90s);
    const auto lasted = std::chrono::steady_clock::now() - started;
    EXPECT_GT(lasted, 60s);
    EXPECT_LT(lasted, 64s);
    EXPECT_TRUE(test::waitFor([&] { return log().find(": stopping") != std::string::npos; }));
    EXPECT_FALSE(test::pathExists(entry("driver.sock")));
    EXPECT_TRUE(test::pathExists(entry("status.json")));
}

}  // namespace
}  // namespace host_test
