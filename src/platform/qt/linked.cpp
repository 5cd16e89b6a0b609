// For programs that link the toolkit in: tests, benchmarks, the macOS host.
#include "platform/qt/qt_toolkit.h"

namespace platform {

Toolkit* toolkit() {
    return &qt::instance();
}

}  // namespace platform
