#include "platform/display.h"

namespace platform {

// A Mac always has its window server.
void lookForDisplay() {}

const char* toolkitPlatform() {
    return "cocoa";
}

}  // namespace platform
