#include "app/quorva_desktop.h"
#include "permissions/texts.h"
#include "permissions/window_layout.h"
#include "platform/fonts.h"
#include "platform/resources.h"

// Built once, in the language of the command line; later calls bring the same
// window forward where it stands, closed or not.
void QuorvaDesktop::showPermissions() {
    if (window) {
        window->makeKeyAndOrderFront();
        system_.activate();
        return;
    }
    // The toolkit starts with the first window; without it there is none to
    // show, and supervision goes on.
    if (!platform::windowsAvailable()) return;
    // Registered only now, and only for the Persian window, the one that
    // uses it: most runs never show a window, and the font costs time and
    // memory. A missing font only changes the look.
    const bool persian = !english();
    if (auto font = platform::resourcePath("Vazirmatn", "ttf"); font && persian)
        platform::registerFontForProcess(*font);
    namespace t = permissions::texts;
    permissions::WindowInputs inputs{
        .english = english(),
        .logoPath = platform::resourcePath(text(t::kLogoPersian, t::kLogoEnglish), "png"),
        .persianFontAvailable =
            persian && platform::fontFamilyAvailable(permissions::kBodyFontPersian),
        // The buttons hold the host weakly, like the timer.
        .grantAX =
            [weak = weak_from_this()] {
                if (auto host = weak.lock()) host->grantAX();
            },
        .grantScreen =
            [weak = weak_from_this()] {
                if (auto host = weak.lock()) host->grantScreen();
            },
    };
    platform::WindowLayout layout = permissions::permissionsWindowLayout(inputs);
    layout.iconPath = platform::resourcePath(t::kIcon, "png");
    window = std::make_unique<platform::Window>(layout);
    window->center();
    window->makeKeyAndOrderFront();
    system_.activate();
}
