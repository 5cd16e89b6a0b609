#include "permissions/window_layout.h"

#include "permissions/texts.h"

namespace permissions {

platform::WindowSpec permissionsWindowSpec(const WindowInputs& in) {
    namespace t = texts;
    const bool en = in.english;
    platform::WindowSpec spec;
    spec.width = kWindowWidth;
    spec.height = kWindowHeight;
    spec.title = en ? t::kTitleEnglish : t::kTitlePersian;
    spec.background = kBackground;

    // Only the logo and the body follow the reading direction; the buttons
    // keep their places in both languages.
    spec.views.push_back(platform::ImageViewSpec{
        .name = "logo",
        .frame = {en ? 32 : 282, 266, 196, 60},
        .imagePath = in.logoPath,
    });
    spec.views.push_back(platform::LabelSpec{
        .name = "body",
        .frame = {32, 115, 446, 140},
        .text = en ? t::kBodyEnglish : t::kBodyPersian,
        .fontFamily = (!en && in.persianFontAvailable) ? kBodyFontPersian : "",
        .pixelSize = kBodyPixelSize,
        .color = kBodyColor,
        .alignment = en ? platform::Alignment::Left : platform::Alignment::Right,
    });
    spec.views.push_back(platform::ButtonSpec{
        .name = "accessibilityButton",
        .frame = {32, 58, 210, 38},
        .title = en ? t::kAccessibilityButtonEnglish : t::kAccessibilityButtonPersian,
        .action = in.grantAX,
    });
    spec.views.push_back(platform::ButtonSpec{
        .name = "screenRecordingButton",
        .frame = {268, 58, 210, 38},
        .title = en ? t::kScreenButtonEnglish : t::kScreenButtonPersian,
        .action = in.grantScreen,
    });
    return spec;
}

}  // namespace permissions
