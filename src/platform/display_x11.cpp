#include <xcb/xcb.h>

#include <cstdlib>

#include "platform/display.h"

namespace platform {

bool displayWanted() {
    const char* forced = std::getenv("QT_QPA_PLATFORM");
    if (forced && *forced) return true;
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return false;
    // Qt gives up on the whole process when its X connection cannot be made,
    // so look first. xcb rather than Xlib: Xlib prints the server's refusal.
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    const bool ok = xcb_connection_has_error(c) == 0;
    xcb_disconnect(c);
    return ok;
}

}  // namespace platform
