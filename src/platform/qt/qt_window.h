#pragma once

#include <memory>

#include "platform/toolkit.h"
#include "platform/window.h"

namespace platform::qt {

// The layout as Qt widgets: frames flipped to Qt's top-left origin.
std::unique_ptr<ToolkitWindow> makeWindow(const WindowLayout& layout);

}  // namespace platform::qt
