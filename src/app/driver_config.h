#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/process_info.h"

namespace app {

// The driver's six arguments after its program name.
std::vector<std::string> driverArguments(const std::string& socketPath);

// Whether an inherited variable is kept from the driver: a "VOV_DRIVER_"
// prefix or an "API_KEY" suffix, case-sensitive, on the whole name.
bool withheldFromDriver(std::string_view name);

// The inherited environment less the withheld names: what any program the
// host starts is given (the driver, the desktop's URL opener).
platform::Environment withoutWithheld(const platform::Environment& inherited);

// The driver's complete environment: the inherited one less the withheld
// names, then the four fixed VOV_DRIVER_ settings.
platform::Environment driverEnvironment(const platform::Environment& inherited);

}  // namespace app
