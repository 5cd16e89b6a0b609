#pragma once

#include <string>

#include "platform/process_info.h"

namespace platform {

// The operating-system services whose answers the host cannot steer in a
// test: the clock, the two permissions, System Settings and the quit
// request. The host goes through this, so tests can hand it a stand-in.
class System {
  public:
    virtual ~System() = default;

    // Wall-clock time in seconds (it can jump when the clock is set).
    virtual double now() = 0;

    // AXIsProcessTrusted / CGPreflightScreenCaptureAccess: no prompt.
    virtual bool accessibilityTrusted() = 0;
    virtual bool screenCaptureAllowed() = 0;

    // AXIsProcessTrustedWithOptions(prompt) / CGRequestScreenCaptureAccess.
    virtual void requestAccessibility() = 0;
    virtual void requestScreenCapture() = 0;

    // Hands a URL to the desktop; the outcome is not reported. A program
    // started for it gets `env` as its complete environment.
    virtual void openUrl(const std::string& url, const Environment& env) = 0;

    // The application's quit request (terminate: with no sender). The
    // process ends with `exitStatus`: non-zero tells whoever started the
    // host that it failed to start.
    virtual void terminate(int exitStatus) = 0;
    // Brings the application to the front (activateIgnoringOtherApps:).
    virtual void activate() = 0;
};

// The real services of this machine.
System& realSystem();

// Per-system implementations behind realSystem(), one file per system.
namespace os {
bool accessibilityTrusted();
bool screenCaptureAllowed();
void requestAccessibility();
void requestScreenCapture();
void openUrl(const std::string& url, const Environment& env);
void activateApplication();
// No Dock icon and no menu bar (NSApplicationActivationPolicyAccessory);
// needs the system's application object (NSApp), which the toolkit makes.
void setActivationPolicyAccessory();
}  // namespace os

}  // namespace platform
