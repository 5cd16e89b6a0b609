#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "app/driver_config.h"
#include "app/options.h"
#include "supervision/registration.h"

namespace {

using Args = std::vector<std::string>;

TEST(CommandLine, HomeAndLanguage) {
    const std::string cwd = "/work/cwd", fallback = "/users/me/.quorva";
    const struct {
        Args args;
        std::string home;
        bool english;
    } cases[] = {
        {{"/bin/quorva-desktop"}, fallback, false},
        {{"q", "--home", "/data/p"}, "/data/p", false},
        {{"q", "--home", "/data/p/"}, "/data/p", false},
        {{"q", "--home", "/a", "--home", "/b"}, "/a", false},
        {{"q", "--home"}, fallback, false},
        {{"q", "--home", "--english"}, "/work/cwd/--english", true},
        {{"q", "--home", "~/x"}, "/work/cwd/~/x", false},
        {{"q", "--home", "rel/dir"}, "/work/cwd/rel/dir", false},
        {{"q", "--HOME", "/x"}, fallback, false},
        {{"q", "--home=/x"}, fallback, false},
        {{"q", "-home", "/x"}, fallback, false},
        {{"q", "--English", "--engl", "--english=1", "-english"}, fallback, false},
        {{"--english", "q", "x"}, fallback, true},
        {{"q", "x", "--english", "y", "--english"}, fallback, true},
        {{"--home", "/p0"}, "/p0", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        const std::string home = app::homeFolder(
            c.args, [&] { return cwd; }, "/users/me");
        EXPECT_EQ(home, c.home);
        EXPECT_EQ(app::runtimeFolder(home), c.home + "/desktop");
        EXPECT_EQ(app::englishRequested(c.args), c.english);
    }
}

TEST(DriverLaunch, EnvironmentIsFilteredAndCompleted) {
    const platform::Environment passed = {{"API_KEY_FILE", "/f"},   {"api_key", "a"},
                                          {"vov_driver_mode", "m"}, {"X_VOV_DRIVER_Y", "y"},
                                          {"PATH", "/usr/bin"},     {"HOME", "/root"}};
    platform::Environment inherited = passed, expected = passed;
    inherited.insert(inherited.begin() + 2, {{"VOV_DRIVER_SOCKET", "/elsewhere"},
                                             {"SERVICE_API_KEY", "s"},
                                             {"API_KEY", "k"},
                                             {"VOV_DRIVER_TELEMETRY", "1"},
                                             {"VOV_DRIVER_EMBEDDED", "0"}});
    expected.insert(expected.end(), {{"VOV_DRIVER_EMBEDDED", "1"},
                                     {"VOV_DRIVER_HOST_BUNDLE_ID", "com.quorva.desktop"},
                                     {"VOV_DRIVER_PERMISSION_MODE", "standard"},
                                     {"VOV_DRIVER_TELEMETRY", "0"}});
    EXPECT_THAT(app::driverEnvironment(inherited), ::testing::UnorderedElementsAreArray(expected));
}

TEST(Registration, NameIsASigned32BitDecimal) {
    const std::pair<const char*, std::int32_t> numbers[] = {{"812", 812},
                                                            {"+812", 812},
                                                            {"007", 7},
                                                            {"0", 0},
                                                            {"-0", 0},
                                                            {"-2147483648", INT32_MIN},
                                                            {"2147483647", INT32_MAX},
                                                            {"000000000002147483647", INT32_MAX}};
    for (const auto& [name, value] : numbers)
        EXPECT_EQ(supervision::registrationNumber(name), value) << name;
    for (const char* name :
         {"abc", "812.pid", "0x1F", "2147483648", "-2147483649", "99999999999999999999", "+", "-",
          " 812", "812 ", "812\n", "+-1", "--1", "８１２", "٨١٢", "", ".DS_Store"})
        EXPECT_EQ(supervision::registrationNumber(name), std::nullopt) << name;
}

}  // namespace
