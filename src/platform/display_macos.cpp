#include "platform/display.h"

namespace platform {
// A Mac always has its window server.
const char* toolkitPlatform() {
    return "cocoa";
}
}  // namespace platform
