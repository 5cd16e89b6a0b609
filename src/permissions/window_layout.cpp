#include "permissions/window_layout.h"

#include "permissions/texts.h"

namespace permissions {

platform::WindowLayout permissionsWindowLayout(const WindowInputs& in) {
    namespace t = texts;
    const bool en = in.english;
    platform::WindowLayout layout;
    layout.width = kWindowWidth;
    layout.height = kWindowHeight;
    layout.title = en ? t::kTitleEnglish : t::kTitlePersian;
    layout.background = kBackground;
    layout.rightToLeft = !en;

    // Only the logo and the body follow the reading direction; the buttons
    // keep their places in both languages.
    layout.views.push_back(platform::ImageView{
        .name = "logo",
        .frame = {en ? 32 : 282, 266, 196, 60},
        .imagePath = in.logoPath,
        .accessible = {.name = en ? t::kLogoNameEnglish : t::kLogoNamePersian, .description = {}},
    });
    layout.views.push_back(platform::Label{
        .name = "body",
        .frame = {32, 115, 446, 140},
        .text = en ? t::kBodyEnglish : t::kBodyPersian,
        .fontFamily = (!en && in.persianFontAvailable) ? kBodyFontPersian : "",
        .pixelSize = kBodyPixelSize,
        .color = kBodyColor,
        .alignment = en ? platform::Alignment::Left : platform::Alignment::Right,
    });
    layout.views.push_back(platform::Button{
        .name = "accessibilityButton",
        .frame = {32, 58, 210, 38},
        .title = en ? t::kAccessibilityButtonEnglish : t::kAccessibilityButtonPersian,
        .action = in.grantAX,
        .accessible = {.name = {},
                       .description = en ? t::kAccessibilityButtonDoesEnglish
                                         : t::kAccessibilityButtonDoesPersian},
    });
    layout.views.push_back(platform::Button{
        .name = "screenRecordingButton",
        .frame = {268, 58, 210, 38},
        .title = en ? t::kScreenButtonEnglish : t::kScreenButtonPersian,
        .action = in.grantScreen,
        .accessible = {.name = {},
                       .description =
                           en ? t::kScreenButtonDoesEnglish : t::kScreenButtonDoesPersian},
    });
    return layout;
}

}  // namespace permissions
