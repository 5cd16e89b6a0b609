// For programs that link the toolkit in: tests, benchmarks, the macOS host.
#include "platform/qt/qt_toolkit.h"

namespace platform {

bool toolkitPresent() {
    return true;
}

Toolkit* loadToolkit() {
    return &qt::instance();
}

}  // namespace platform
