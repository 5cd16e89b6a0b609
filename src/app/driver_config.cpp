#include "app/driver_config.h"

#include "platform/host_identity.h"

namespace app {

std::vector<std::string> driverArguments(const std::string& socketPath) {
    return {"serve", "--embedded", "--socket", socketPath, "--permission-mode", "standard"};
}

bool withheldFromDriver(std::string_view name) {
    return name.starts_with("VOV_DRIVER_") || name.ends_with("API_KEY");
}

platform::Environment withoutWithheld(const platform::Environment& inherited) {
    platform::Environment env;
    env.reserve(inherited.size() + 4);
    for (const auto& variable : inherited)
        if (!withheldFromDriver(variable.first)) env.push_back(variable);
    return env;
}

platform::Environment driverEnvironment(const platform::Environment& inherited) {
    platform::Environment env = withoutWithheld(inherited);
    env.emplace_back("VOV_DRIVER_EMBEDDED", "1");
    env.emplace_back("VOV_DRIVER_HOST_BUNDLE_ID", platform::HostBundleIdentifier);
    env.emplace_back("VOV_DRIVER_PERMISSION_MODE", "standard");
    env.emplace_back("VOV_DRIVER_TELEMETRY", "0");
    return env;
}

}  // namespace app
