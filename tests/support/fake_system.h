#pragma once

#include "platform/system.h"

namespace test {

// The operating system as the host sees it, with neither permission held, a
// clock the test sets, and terminations counted instead of carried out.
struct FakeSystem : platform::System {
    double clock = 100;
    int terminations = 0;
    double now() override { return clock; }
    bool accessibilityTrusted() override { return false; }
    bool screenCaptureAllowed() override { return false; }
    void requestAccessibility() override {}
    void requestScreenCapture() override {}
    void openUrl(const std::string&, const platform::Environment&) override {}
    void terminate(int) override { ++terminations; }
    void activate() override {}
};

}  // namespace test
