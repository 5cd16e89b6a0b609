#pragma once

#include <string>

#include "quorva/client.h"

namespace quorva::detail {

// Whether the driver of `home` accepts connections now, as waitForDriver
// with no time to wait, but asked of the kernel where it can tell without
// connecting: a connection wakes the driver, which a look should not.
Outcome driverAccepts(const std::string& home);

}  // namespace quorva::detail
