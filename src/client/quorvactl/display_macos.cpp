// macOS: the two permissions are the system's own; there is no display to look at.
#include "quorvactl/doctor.h"

namespace quorvactl {

std::vector<Check> displayChecks(int) {
    return {{Check::Mark::Ok, "permissions",
             "granted in System Settings > Privacy & Security (Accessibility, Screen "
             "Recording); the status line says whether the host holds them"}};
}

}  // namespace quorvactl
