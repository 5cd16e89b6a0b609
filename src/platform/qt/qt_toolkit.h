#pragma once

#include "platform/toolkit.h"

namespace platform::qt {

// The toolkit as Qt Widgets provides it.
Toolkit& instance();

}  // namespace platform::qt
