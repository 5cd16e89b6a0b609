// The client road through the runtime folder of a running host: the status
// file, registrations and the request for the permissions window.
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "host/host_run.h"

namespace host_test {
namespace {

namespace fs = std::filesystem;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A member of compact JSON text with its value written as given.
bool hasMember(const std::string& json, const std::string& key, const std::string& value) {
    const std::string member = "\"" + key + "\":" + value;
    return contains(json, member + ",") || contains(json, member + "}");
}

TEST_F(HostRun, WithoutDisplayPermissionsAreMissingAndDeadRegistrationsGo) {
    auto host = start();
    ASSERT_TRUE(test::waitFor([&] { return test::pathExists(entry("status.json")); }));
    const std::string status = test::readFile(entry("status.json"));
    EXPECT_TRUE(hasMember(status, "status", "\"permission_required\"")) << status;
    EXPECT_TRUE(hasMember(status, "accessibility", "false")) << status;
    EXPECT_TRUE(hasMember(status, "screen_recording", "false")) << status;
    EXPECT_TRUE(hasMember(status, "host_pid", std::to_string(host.pid))) << status;

    auto gone = test::spawnProcess({"/bin/true"}, {}, tmp.path());
    const std::string dead = std::to_string(gone.pid);
    ASSERT_NE(gone.wait(), -1);
    const std::string live = std::to_string(::getpid());
    for (const auto& name : {live, dead, std::string("abc")})
        test::writeFile(entry("clients/" + name), "");

    EXPECT_TRUE(test::waitFor(
        [&] {
            return !test::pathExists(entry("clients/" + dead)) &&
                   !test::pathExists(entry("clients/abc"));
        },
        3s));
    // One more tick, so a live entry wrongly judged would be gone too.
    std::this_thread::sleep_for(1200ms);
    EXPECT_TRUE(test::pathExists(entry("clients/" + live)));

    host.kill(SIGTERM);
    expectQuietExit(host);
}

std::string windowTree(const std::string& display, const std::string& outDir) {
    auto xwininfo = test::spawnProcess({"/usr/bin/xwininfo", "-root", "-tree"},
                                       test::environmentWith({"DISPLAY=" + display}), outDir);
    xwininfo.wait();
    return test::readFile(xwininfo.outPath);
}

TEST_F(HostRun, UnderXServerStatusIsReadyAndRequestedWindowAppears) {
    test::Xvfb x;
    ASSERT_TRUE(x.ok());
    auto host = start({"--english"}, {}, "", x.display());
    ASSERT_TRUE(test::waitFor([&] { return test::pathExists(entry("status.json")); }));
    const std::string status = test::readFile(entry("status.json"));
    EXPECT_TRUE(hasMember(status, "status", "\"ready\"")) << status;
    EXPECT_TRUE(hasMember(status, "host_pid", std::to_string(host.pid))) << status;

    const std::string title = "\"Quorva permissions\"";
    EXPECT_FALSE(contains(windowTree(x.display(), tmp.path()), title));
    test::writeFile(entry("show-permissions"), "");
    EXPECT_TRUE(test::waitFor([&] { return !test::pathExists(entry("show-permissions")); }, 3s));
    EXPECT_TRUE(
        test::waitFor([&] { return contains(windowTree(x.display(), tmp.path()), title); }, 5s));

    host.kill(SIGTERM);
    expectQuietExit(host);
}

}  // namespace
}  // namespace host_test
