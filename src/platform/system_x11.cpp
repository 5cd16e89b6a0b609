// The X11 meaning of the two macOS privacy permissions.
// Qt before Xlib: Xlib's macros (Bool, Status, ...) break Qt's headers.
#include <QGuiApplication>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdlib>

#include "platform/child_process.h"
#include "platform/system.h"

namespace platform::os {
namespace {

// Xlib's default handler for a lost connection prints before it exits; the
// host prints nothing. Exiting still runs the shutdown hook.
int exitQuietlyOnLostConnection(Display*) {
    std::exit(1);
}

// The toolkit's own X connection: none when it runs without a display.
Display* display() {
    static const bool quiet = (XSetIOErrorHandler(exitQuietlyOnLostConnection), true);
    (void)quiet;
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->display() : nullptr;
}

int ignoreXError(Display*, XErrorEvent*) {
    return 0;
}

}  // namespace

// Desktop control on X11 means synthesising input: the XTEST extension.
bool accessibilityTrusted() {
    Display* d = display();
    if (!d) return false;
    int opcode = 0, event = 0, error = 0;
    return XQueryExtension(d, "XTEST", &opcode, &event, &error) != 0;
}

// Seeing the screen means reading the root window's pixels.
bool screenCaptureAllowed() {
    Display* d = display();
    if (!d) return false;
    auto previous = XSetErrorHandler(ignoreXError);
    XImage* image = XGetImage(d, DefaultRootWindow(d), 0, 0, 1, 1, AllPlanes, ZPixmap);
    XSync(d, False);
    XSetErrorHandler(previous);
    if (!image) return false;
    XDestroyImage(image);
    return true;
}

// X11 has nobody to ask: there is no prompt to raise.
void requestAccessibility() {}
void requestScreenCapture() {}

void openUrl(const std::string& url) {
    spawnDetachedQuietly({"xdg-open", url});
}

// Raising and focusing the window is all X11 has; the window does that.
void activateApplication() {}

}  // namespace platform::os
