#include <X11/Xlib.h>

#include <cstdlib>

#include "platform/display.h"

namespace platform {

bool displayWanted() {
    const char* forced = std::getenv("QT_QPA_PLATFORM");
    if (forced && *forced) return true;
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return false;
    // Qt aborts when its X connection cannot be made, so look first.
    Display* d = XOpenDisplay(nullptr);
    if (!d) return false;
    XCloseDisplay(d);
    return true;
}

}  // namespace platform
