#pragma once

namespace permissions {

// The System Settings panes, exactly as macOS names them.
inline constexpr char kAccessibilityPaneUrl[] =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";
inline constexpr char kScreenRecordingPaneUrl[] =
    "x-apple.systempreferences:com.apple.preference.security?Privacy_ScreenCapture";

}  // namespace permissions
