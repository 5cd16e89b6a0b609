// Start-up of the built host: what the driver is given, the folders and log
// it finds, and the silent failure exits.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

#include "host/host_run.h"

namespace host_test {
namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> parseEnv(const std::string& nulSeparated) {
    std::map<std::string, std::string> vars;
    std::size_t start = 0;
    for (std::size_t end; (end = nulSeparated.find('\0', start)) != std::string::npos;
         start = end + 1) {
        const std::string entry = nulSeparated.substr(start, end - start);
        const auto eq = entry.find('=');
        vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    return vars;
}

TEST_F(HostRun, DriverGetsFixedArgumentsAndFilteredEnvironment) {
    scriptDriver("printf '%s\\n' \"$@\" > '" + tmp / "args" + "'\n" + "env -0 > '" +
                 tmp / "env.part" + "' && mv '" + tmp / "env.part" + "' '" + tmp / "env" +
                 "'\nexec sleep 1000\n");
    const std::map<std::string, std::string> passed{
        {"API_KEY_FILE", "/keys/file"}, {"api_key", "lower"},      {"vov_driver_mode", "m"},
        {"X_VOV_DRIVER_Y", "y"},        {"PATH", "/usr/bin:/bin"}, {"HOME", tmp.path()}};
    std::vector<std::string> env{"VOV_DRIVER_SOCKET=/elsewhere.sock", "SERVICE_API_KEY=s",
                                 "API_KEY=k", "VOV_DRIVER_TELEMETRY=1", "VOV_DRIVER_EMBEDDED=0"};
    for (const auto& [name, value] : passed) env.push_back(name + "=" + value);
    auto host = start({}, env);

    ASSERT_TRUE(test::waitFor([&] { return test::pathExists(tmp / "env"); }));
    EXPECT_EQ(test::readFile(tmp / "args"),
              "serve\n--embedded\n--socket\n" + home +
                  "/desktop/driver.sock\n--permission-mode\nstandard\n");
    const auto seen = parseEnv(test::readFile(tmp / "env"));
    for (const auto& [name, value] : passed) {
        ASSERT_TRUE(seen.count(name)) << name;
        EXPECT_EQ(seen.at(name), value) << name;
    }
    for (const char* dropped : {"SERVICE_API_KEY", "API_KEY"}) EXPECT_FALSE(seen.count(dropped));
    std::map<std::string, std::string> driverVars;
    for (const auto& [name, value] : seen)
        if (name.starts_with("VOV_DRIVER_")) driverVars[name] = value;
    const std::map<std::string, std::string> fixed{{"VOV_DRIVER_EMBEDDED", "1"},
                                                   {"VOV_DRIVER_HOST_BUNDLE_ID", QUORVA_BUNDLE_ID},
                                                   {"VOV_DRIVER_PERMISSION_MODE", "standard"},
                                                   {"VOV_DRIVER_TELEMETRY", "0"}};
    EXPECT_EQ(driverVars, fixed);

    host.kill(SIGTERM);
    expectQuietExit(host);
}

class NewFolders : public HostRun, public ::testing::WithParamInterface<const char*> {};

TEST_P(NewFolders, AreCreatedPrivateWhateverTheUmask) {
    home = tmp / "new/home";
    scriptDriver("exit 0\n");
    auto host = start({}, {}, GetParam());
    expectQuietExit(host);
    for (const auto& folder : {tmp / "new", home, runtime(), entry("clients")})
        EXPECT_EQ(test::modeOf(folder), 0700u) << folder;
    EXPECT_EQ(test::modeOf(entry("desktop.log")), 0600u);
    EXPECT_EQ(log(), "");
}

INSTANTIATE_TEST_SUITE_P(Host, NewFolders, ::testing::Values("022", "077", "0277"),
                         [](const auto& info) { return std::string("Umask") + info.param; });

// Also: a driver that exits 0 ends the host, which then removes the socket
// path (created here by the driver as a plain file).
// A descriptor the host inherited (say a pipe its launcher reads to the end)
// must not stay open in the driver for as long as the driver runs.
TEST_F(HostRun, DriverInheritsOnlyTheStandardStreams) {
    scriptDriver("exec sleep 1000\n");
    auto host = test::spawnProcess(
        {"/bin/sh", "-c", "exec 7</dev/null; exec \"$0\" \"$@\"", app + "/bin/quorva-desktop",
         "--home", home},
        test::environmentWith({}, {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}), tmp.path());
    const auto proc = [&] { return "/proc/" + std::to_string(driverPid()); };
    ASSERT_TRUE(test::waitFor([&] {
        std::error_code ec;
        return driverPid() > 0 && fs::read_symlink(proc() + "/exe", ec).filename() == "sleep";
    }));
    std::vector<std::string> fds;
    for (const auto& e : fs::directory_iterator(proc() + "/fd")) fds.push_back(e.path().filename());
    std::sort(fds.begin(), fds.end());
    EXPECT_EQ(fds, (std::vector<std::string>{"0", "1", "2"}));
    host.kill(SIGTERM);
    expectQuietExit(host);
}

TEST_F(HostRun, ExistingFoldersAndLogAreKeptAndDriverOutputAppended) {
    fs::create_directories(runtime());
    ::chmod(home.c_str(), 0755);
    ::chmod(runtime().c_str(), 0755);
    test::writeFile(entry("desktop.log"), "earlier\n", 0640);
    scriptDriver("echo a; echo b >&2; echo c\n: > \"$4\" && echo made-sock\nexit 0\n");

    auto host = start();
    expectQuietExit(host);
    EXPECT_EQ(log(), "earlier\na\nb\nc\nmade-sock\n");
    EXPECT_FALSE(test::pathExists(entry("driver.sock")));
    EXPECT_EQ(test::modeOf(entry("desktop.log")), 0640u);
    EXPECT_EQ(test::modeOf(runtime()), 0755u);
    EXPECT_EQ(test::modeOf(home), 0755u);
    EXPECT_EQ(test::modeOf(entry("clients")), 0700u);
}

struct FailedStart {
    const char* name;
    std::function<void(HostRun&)> setUp;
    std::vector<std::string> args = {};
};
void PrintTo(const FailedStart& f, std::ostream* os) {
    *os << f.name;
}

class StartupFailure : public HostRun, public ::testing::WithParamInterface<FailedStart> {};

TEST_P(StartupFailure, EndsHostQuietlyWithoutDriverOrSupervision) {
    scriptDriver("exec sleep 1000\n");  // records its pid if it ever runs
    GetParam().setUp(*this);
    auto host = start(GetParam().args);
    expectQuietExit(host, 5s);
    EXPECT_FALSE(test::pathExists(pidFile())) << "driver was started";
    EXPECT_FALSE(test::pathExists(entry("status.json")));
    EXPECT_FALSE(test::pathExists(entry("driver.sock")));
}

INSTANTIATE_TEST_SUITE_P(
    Host, StartupFailure,
    ::testing::Values(FailedStart{"LogIsFolder",
                                  [](HostRun& r) {
                                      fs::create_directories(r.entry("desktop.log"));
                                  }},
                      FailedStart{"LogIsDanglingLink",
                                  [](HostRun& r) {
                                      fs::create_directories(r.runtime());
                                      fs::create_symlink(r.tmp / "missing/desktop.log",
                                                         r.entry("desktop.log"));
                                  }},
                      FailedStart{"RuntimeIsRegularFile",
                                  [](HostRun& r) {
                                      fs::create_directories(r.home);
                                      test::writeFile(r.runtime(), "not a folder");
                                  }},
                      FailedStart{"DriverMissing", [](HostRun& r) { fs::remove(r.driverPath()); }},
                      FailedStart{"DriverNotExecutable",
                                  [](HostRun& r) { ::chmod(r.driverPath().c_str(), 0644); }},
                      FailedStart{"PermissionsButDriverMissing",
                                  [](HostRun& r) { fs::remove(r.driverPath()); },
                                  {"--permissions", "--english"}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace host_test
