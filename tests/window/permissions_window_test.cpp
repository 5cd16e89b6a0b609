// The permissions window and its two buttons, in-process on Qt's offscreen
// platform, driven through the host object with a recording stand-in System.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <algorithm>
#include <filesystem>

#include "app/quorva_desktop.h"
#include "permissions/window_layout.h"
#include "platform/resources.h"
#include "support/test_support.h"

namespace {

using ::testing::ElementsAre;

// One application for the whole run, never destroyed, like the host's own.
struct OffscreenApplication : ::testing::Environment {
    void SetUp() override {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "window_tests", *argv[] = {name, nullptr};
        new QApplication(argc, argv);
    }
};
[[maybe_unused]] auto* const kApp = ::testing::AddGlobalTestEnvironment(new OffscreenApplication);

class RecordingSystem final : public platform::System {
  public:
    std::vector<std::string> calls;
    double now() override { return 1000.0; }
    bool accessibilityTrusted() override { return calls.push_back("accessibilityTrusted"), true; }
    bool screenCaptureAllowed() override { return calls.push_back("screenCaptureAllowed"), true; }
    void requestAccessibility() override { calls.push_back("requestAccessibility"); }
    void requestScreenCapture() override { calls.push_back("requestScreenCapture"); }
    void openUrl(const std::string& url) override { calls.push_back("openUrl " + url); }
    void terminate() override { calls.push_back("terminate"); }
    void activate() override { calls.push_back("activate"); }
};

// A host with a runtime folder of its own.
struct Host {
    explicit Host(bool english) {
        std::filesystem::create_directories(home / "desktop/clients");
        std::vector<std::string> args{"quorva-desktop", "--home", home.path()};
        if (english) args.push_back("--english");
        host = std::make_shared<QuorvaDesktop>(system, args);
    }
    QWidget* widget() const { return host->window ? host->window->widget() : nullptr; }
    test::TempDir home;
    RecordingSystem system;
    std::shared_ptr<QuorvaDesktop> host;
};

// Vazirmatn for this process only, taken away again so later tests see the
// machine as it is.
struct PersianFont {
    int id = QFontDatabase::addApplicationFont(
        QString::fromStdString(test::builtAppFolder() + "/Resources/Vazirmatn.ttf"));
    ~PersianFont() { QFontDatabase::removeApplicationFont(id); }
};

struct Language {
    const char* name;
    bool english;
    const char *title, *body, *accessibilityButton, *screenButton;
    int logoX;
    Qt::Alignment alignment;
};

// Invisible and look-alike characters are escaped: \u200c zero-width
// non-joiner, \u0654 hamza above, \u060c Arabic comma, \u061b Arabic
// semicolon, \u00ab \u00bb guillemets.
const Language kLanguages[] = {
    {"Persian", false, "دسترسی\u200cهای کوروا",
     "برای دیدن صفحه و کار با برنامه\u200cها\u060c به کوروا اجازه\u0654 دسترسی بده. "
     "این قابلیت بخشی از کوروا است.\n\nدر تنظیمات macOS\u060c \u00abQuorva\u00bb را در "
     "Accessibility و Screen Recording فعال کن\u061b سپس کوروا را دوباره باز کن.",
     "کنترل برنامه\u200cها", "دیدن صفحه", 282, Qt::AlignRight},
    {"English", true, "Quorva permissions",
     "Allow Quorva to see the screen and work with apps. Desktop control is built into Quorva."
     "\n\nEnable Quorva in macOS Accessibility and Screen Recording, then restart Quorva.",
     "Control apps", "See the screen", 32, Qt::AlignLeft},
};

TEST(PermissionsWindowLayout, FollowsTheLanguage) {
    PersianFont font;
    if (font.id < 0) GTEST_SKIP() << "this build has no Vazirmatn.ttf";
    for (const Language& lang : kLanguages) {
        SCOPED_TRACE(lang.name);
        Host h(lang.english);
        h.host->showPermissions();
        QWidget* w = h.widget();
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->minimumSize(), QSize(510, 350));
        EXPECT_EQ(w->maximumSize(), QSize(510, 350));
        const Qt::WindowFlags buttons = Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                                        Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint;
        EXPECT_EQ(w->windowFlags() & buttons, Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
        EXPECT_EQ(w->windowTitle(), QString::fromUtf8(lang.title));
        EXPECT_EQ(w->grab().toImage().pixelColor(4, 345), QColor(41, 41, 39));

        const struct {
            const char *name, *className;
            QRect geometry;
            const char* text;
        } views[] = {
            {"logo", "QLabel", {lang.logoX, 24, 196, 60}, ""},
            {"body", "QLabel", {32, 95, 446, 140}, lang.body},
            {"accessibilityButton", "QPushButton", {32, 254, 210, 38}, lang.accessibilityButton},
            {"screenRecordingButton", "QPushButton", {268, 254, 210, 38}, lang.screenButton},
        };
        const auto children = w->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        ASSERT_EQ(children.size(), 4);
        for (int i = 0; i < 4; ++i) {
            SCOPED_TRACE(views[i].name);
            EXPECT_EQ(children[i]->objectName(), views[i].name);
            EXPECT_STREQ(children[i]->metaObject()->className(), views[i].className);
            EXPECT_EQ(children[i]->geometry(), views[i].geometry);
            EXPECT_EQ(children[i]->property("text").toString(), QString::fromUtf8(views[i].text));
        }

        const auto* body = w->findChild<QLabel*>("body");
        ASSERT_NE(body, nullptr);
        if (lang.english)
            EXPECT_EQ(body->font().family(), QApplication::font().family());
        else
            EXPECT_EQ(QFontInfo(body->font()).family(), "Vazirmatn");
        EXPECT_EQ(body->font().pixelSize(), 15);
        EXPECT_EQ(body->palette().color(QPalette::WindowText), QColor(236, 236, 236));
        // As drawn, whatever the layout direction.
        for (const auto direction : {Qt::LeftToRight, Qt::RightToLeft})
            EXPECT_EQ(QStyle::visualAlignment(direction, body->alignment()) &
                          (Qt::AlignLeft | Qt::AlignRight | Qt::AlignHCenter),
                      lang.alignment);
    }
}

// The test binary has no Resources folder beside it, so the host finds no
// logo here; a logo file that is no image is tried through the layout.
TEST(PermissionsWindowFallback, PersianWindowIsCompleteWithoutItsResources) {
    if (platform::fontFamilyAvailable("Vazirmatn"))
        GTEST_SKIP() << "Vazirmatn is installed on this machine";
    Host h(false);
    h.host->showPermissions();
    test::TempDir dir;
    test::writeFile(dir / "logo.png", "not an image");
    const platform::Window badLogo(permissions::permissionsWindowLayout(
        {.logoPath = dir / "logo.png", .grantAX = {}, .grantScreen = {}}));
    for (const QWidget* w : {h.widget(), badLogo.widget()}) {
        EXPECT_EQ(w->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly).size(), 4);
        EXPECT_TRUE(w->findChild<QLabel*>("logo")->pixmap().isNull());
        const QLabel* body = w->findChild<QLabel*>("body");
        EXPECT_FALSE(body->text().isEmpty());
        EXPECT_EQ(body->font().family(), QApplication::font().family());
        EXPECT_EQ(body->font().pixelSize(), 15);
    }
}

// Start-up, a trigger file and a trigger folder all reach the one window.
TEST(PermissionsWindowShowing, EveryRequestBringsBackTheSameWindowWhereItStood) {
    Host h(false);
    const std::string trigger = h.home / "desktop/show-permissions";
    h.host->tick();
    EXPECT_EQ(h.host->window, nullptr);
    h.host->showPermissions();
    platform::Window* const first = h.host->window.get();
    QWidget* const widget = h.widget();
    test::writeFile(trigger, "");
    h.host->tick();
    EXPECT_FALSE(test::pathExists(trigger));
    EXPECT_EQ(h.host->window.get(), first);

    widget->move(13, 17);
    widget->close();
    EXPECT_FALSE(widget->isVisible());
    EXPECT_EQ(h.host->window.get(), first);

    std::filesystem::create_directories(trigger + "/inner");
    test::writeFile(trigger + "/inner/note", "");
    h.host->tick();
    h.host->tick();
    EXPECT_FALSE(test::pathExists(trigger));
    EXPECT_EQ(h.host->window.get(), first);
    EXPECT_EQ(h.widget(), widget);
    EXPECT_TRUE(widget->isVisible());
    EXPECT_EQ(widget->pos(), QPoint(13, 17));
    EXPECT_EQ(std::ranges::count(h.system.calls, "activate"), 3);
    EXPECT_EQ(QApplication::topLevelWidgets().size(), 1);
}

TEST(PermissionRequests, EveryPressRequestsThenOpensThePane) {
    const std::string pane = "openUrl x-apple.systempreferences:com.apple.preference.security?";
    const struct {
        const char *button, *request;
        std::string url;
    } cases[] = {
        {"accessibilityButton", "requestAccessibility", pane + "Privacy_Accessibility"},
        {"screenRecordingButton", "requestScreenCapture", pane + "Privacy_ScreenCapture"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        Host h(true);
        h.host->showPermissions();
        auto* button = h.widget()->findChild<QPushButton*>(c.button);
        ASSERT_NE(button, nullptr);
        h.system.calls.clear();
        button->click();
        button->click();
        EXPECT_THAT(h.system.calls, ElementsAre(c.request, c.url, c.request, c.url));
    }
}

}  // namespace
