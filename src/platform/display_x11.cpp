#include "platform/display.h"
#include "platform/x11_probe.h"

namespace platform {

void lookForDisplay() {
    x11::connectInBackground();
}

// Qt gives up on the whole process when its X connection cannot be made, so
// the probe connection looks first; and should Qt's own connection still
// fail, Qt falls back to offscreen rather than ending the host. The probe
// connection stays open, so the server never sees its last client go just as
// Qt arrives (a server with no other client resets then).
const char* toolkitPlatform() {
    return x11::connected() ? "xcb;offscreen" : "offscreen";
}

}  // namespace platform
