#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/window.h"

namespace permissions {

inline constexpr int kWindowWidth = 510;
inline constexpr int kWindowHeight = 350;
inline constexpr platform::Color kBackground{41, 41, 39};
inline constexpr platform::Color kBodyColor{236, 236, 236};
inline constexpr int kBodyPixelSize = 15;
inline constexpr char kBodyFontPersian[] = "Vazirmatn";

// What the layout depends on beyond the language.
struct WindowInputs {
    bool english = false;
    std::optional<std::string> logoPath;  // the language's logo, if found
    bool persianFontAvailable = false;    // "Vazirmatn" can be had
    std::function<void()> grantAX;
    std::function<void()> grantScreen;
};

// The whole window as data: title, size, colours and the four views in the
// order they are added (logo, body, Accessibility, Screen Recording).
platform::WindowLayout permissionsWindowLayout(const WindowInputs& inputs);

}  // namespace permissions
