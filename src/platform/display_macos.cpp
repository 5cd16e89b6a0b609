#include "platform/display.h"

namespace platform {

// A Mac always has its window server.
void lookForDisplay() {}

bool toolkitStartsAtLaunch() {
    return true;
}

const char* toolkitPlatform() {
    return "cocoa";
}

bool displayAnswers() {
    return true;
}

}  // namespace platform
