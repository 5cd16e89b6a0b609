#include "platform/display.h"
#include "platform/x11_probe.h"

namespace platform {

void lookForDisplay() {
    x11::connectInBackground();
}

// Qt's libraries cost more time and memory than all the rest of the host,
// and most runs never show a window.
bool toolkitStartsAtLaunch() {
    return false;
}

// Qt gives up on the whole process when its X connection cannot be made, and
// blocks for as long as a stopped server does not answer: the probe
// connection must have answered lately. Should Qt's own connection still
// fail, Qt falls back to offscreen rather than ending the host. The probe
// connection stays open, so the server never sees its last client go just as
// Qt arrives (a server with no other client resets then).
const char* toolkitPlatform() {
    return x11::answering() ? "xcb;offscreen" : "offscreen";
}

bool displayAnswers() {
    return x11::answering();
}

}  // namespace platform
