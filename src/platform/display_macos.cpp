#include "platform/display.h"

namespace platform {
// A Mac always has its window server.
bool displayWanted() {
    return true;
}
}  // namespace platform
