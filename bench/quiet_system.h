#pragma once

#include <string>

#include "platform/system.h"

// The host's system services with every answer fixed and every action a
// no-op, so a benchmark times the host's own work. The clock advances a
// second per reading, as ticks would see it.
class QuietSystem final : public platform::System {
  public:
    double now() override { return clock += 1.0; }
    bool accessibilityTrusted() override { return false; }
    bool screenCaptureAllowed() override { return false; }
    void requestAccessibility() override {}
    void requestScreenCapture() override {}
    void openUrl(const std::string&, const platform::Environment&) override {}
    void terminate(int) override {}
    void activate() override {}
    double clock = 0;
};
