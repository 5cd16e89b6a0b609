// The macOS privacy permissions and System Settings. Built on macOS only.
#import <AppKit/AppKit.h>
#import <ApplicationServices/ApplicationServices.h>
#import <CoreGraphics/CoreGraphics.h>

#include "platform/system.h"

namespace platform::os {

bool accessibilityTrusted() {
    return AXIsProcessTrusted() != 0;
}

bool screenCaptureAllowed() {
    return CGPreflightScreenCaptureAccess();
}

void requestAccessibility() {
    NSDictionary* options = @{(__bridge NSString*)kAXTrustedCheckOptionPrompt : @YES};
    (void)AXIsProcessTrustedWithOptions((__bridge CFDictionaryRef)options);
}

void requestScreenCapture() {
    (void)CGRequestScreenCaptureAccess();
}

// NSWorkspace starts nothing of ours: there is no environment to hand on.
void openUrl(const std::string& url, const Environment&) {
    NSURL* u = [NSURL URLWithString:[NSString stringWithUTF8String:url.c_str()]];
    if (u) (void)[[NSWorkspace sharedWorkspace] openURL:u];
}

void activateApplication() {
    [NSApp activateIgnoringOtherApps:YES];
}

void setActivationPolicyAccessory() {
    [NSApp setActivationPolicy:NSApplicationActivationPolicyAccessory];
}

}  // namespace platform::os
