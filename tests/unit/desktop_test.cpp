#include <gtest/gtest.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>

#include "app/quorva_desktop.h"
#include "platform/files.h"
#include "platform/process_info.h"
#include "platform/system.h"
#include "support/test_support.h"

namespace {

// The clock and the permission answers, steered by the test.
class FakeSystem : public platform::System {
  public:
    double clock = 100.0;
    bool accessibility = false, screenCapture = false;
    int terminations = 0;

    double now() override { return clock; }
    bool accessibilityTrusted() override { return accessibility; }
    bool screenCaptureAllowed() override { return screenCapture; }
    void requestAccessibility() override {}
    void requestScreenCapture() override {}
    void openUrl(const std::string&) override {}
    void terminate() override { ++terminations; }
    void activate() override {}
};

class Tick : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(platform::createDirectory(clients, 0700)); }

    std::shared_ptr<QuorvaDesktop> makeHost() {
        return std::make_shared<QuorvaDesktop>(
            system, std::vector<std::string>{"quorva-desktop", "--home", tmp.path()});
    }

    test::TempDir tmp;
    const std::string clients = tmp / "desktop/clients";
    FakeSystem system;
};

TEST(Desktop, DerivesFoldersAndTextsFromItsArguments) {
    FakeSystem system;
    const QuorvaDesktop persian(system, {"q", "--home", "rel"});
    const QuorvaDesktop english(system, {"q", "--english"});
    EXPECT_EQ(persian.runtime(), platform::currentDirectory() + "/rel/desktop");
    EXPECT_EQ(english.home(), platform::userHomeDirectory() + "/.quorva");
    EXPECT_EQ(persian.text("سلام", "hello"), "سلام");
    EXPECT_EQ(english.text("سلام", "hello"), "hello");
}

TEST_F(Tick, QuitsOnceUnattendedForMoreThanTheLimit) {
    struct Step {
        double now;
        bool liveClient;
        double idleSince;
        int quits;  // so far
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
    } cases[] = {
        {"exactly the limit is not more",
         {{160, false, 100, 0}, {160.001, false, 100, 1}, {161, false, 100, 2}}},
        {"a live client restarts the clock",
         {{150, true, 150, 0}, {210, false, 150, 0}, {210.5, false, 150, 1}}},
        {"clock jumps forward", {{101, false, 100, 0}, {5000, false, 100, 1}}},
        {"clock jumps backward",
         {{130, true, 130, 0}, {40, false, 130, 0}, {190, false, 130, 0}, {190.25, false, 130, 1}}},
    };
    const std::string registration = clients + "/" + std::to_string(::getpid());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        system.clock = 100;
        system.terminations = 0;
        const auto host = makeHost();
        for (const Step& step : c.steps) {
            SCOPED_TRACE(step.now);
            if (step.liveClient) test::writeFile(registration, "");
            system.clock = step.now;
            host->tick();
            EXPECT_EQ(host->idleSince, step.idleSince);
            EXPECT_EQ(system.terminations, step.quits);
            EXPECT_EQ(test::pathExists(registration), step.liveClient);
            platform::removeItem(registration);
        }
    }
}

TEST_F(Tick, PublishesThisTicksProbes) {
    const auto host = makeHost();
    for (const auto& [ax, screen] : {std::pair{true, false}, {false, true}, {true, true}}) {
        system.accessibility = ax;
        system.screenCapture = screen;
        host->tick();
        const auto status = QJsonDocument::fromJson(
            QByteArray::fromStdString(test::readFile(tmp / "desktop/status.json")));
        EXPECT_EQ(status["accessibility"], QJsonValue(ax));
        EXPECT_EQ(status["screen_recording"], QJsonValue(screen));
        EXPECT_EQ(status["host_pid"], QJsonValue(::getpid()));
    }
}

TEST_F(Tick, MissingFoldersAreNeitherFatalNorRecreated) {
    const auto host = makeHost();
    ASSERT_TRUE(platform::removeItem(clients));
    host->tick();
    EXPECT_FALSE(test::pathExists(clients));
    EXPECT_TRUE(test::pathExists(tmp / "desktop/status.json"));

    ASSERT_TRUE(platform::removeItem(tmp / "desktop"));
    system.clock = 160.5;
    host->tick();
    EXPECT_FALSE(test::pathExists(tmp / "desktop"));
    EXPECT_EQ(system.terminations, 1);
}

}  // namespace
