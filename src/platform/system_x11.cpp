// The X11 meaning of the two macOS privacy permissions.
#include <cstdlib>
#include <cstring>

#include "platform/child_process.h"
#include "platform/system.h"
#include "platform/x11_probe.h"

namespace platform::os {
namespace {

// Under Wayland, XWayland's XTEST and root window reach no native window: the
// X answers would claim a control the host does not have.
bool waylandSession() {
    static const bool wayland = [] {
        const char* display = std::getenv("WAYLAND_DISPLAY");
        const char* session = std::getenv("XDG_SESSION_TYPE");
        return (display && *display) || (session && std::strcmp(session, "wayland") == 0);
    }();
    return wayland;
}

}  // namespace

// Desktop control on X11 means synthesising input: the XTEST extension.
bool accessibilityTrusted() {
    return !waylandSession() && x11::offersXTest();
}

// Seeing the screen means reading the root window's pixels.
bool screenCaptureAllowed() {
    return !waylandSession() && x11::canReadRootWindow();
}

// X11 has nobody to ask: there is no prompt to raise.
void requestAccessibility() {}
void requestScreenCapture() {}

void openUrl(const std::string& url, const Environment& env) {
    spawnDetachedQuietly({"xdg-open", url}, env);
}

// Raising and focusing the window is all X11 has; the window does that.
void activateApplication() {}

// An X11 desktop has no Dock or global menu bar to keep out of.
void setActivationPolicyAccessory() {}

}  // namespace platform::os
