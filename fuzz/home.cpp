// The home rule: "--home PATH" taken as a path (relative to the working
// folder, "~" not expanded), else ~/.quorva. The first byte says whether a
// working folder and a user home can be had; then the user home and the
// arguments, NUL between each.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/options.h"
#include "contract/home.h"

namespace {

std::string trimmed(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const bool hasWorkingFolder = data[0] & 1, hasUserHome = data[0] & 2;
    std::vector<std::string> parts(1);
    for (std::size_t i = 1; i < size && parts.size() < 64; ++i)
        if (data[i])
            parts.back().push_back(static_cast<char>(data[i]));
        else
            parts.emplace_back();
    const std::optional<std::string> userHome =
        hasUserHome ? std::optional(parts.front()) : std::nullopt;
    const std::vector<std::string> args(parts.begin() + 1, parts.end());
    const auto workingFolder = [&]() -> std::optional<std::string> {
        return hasWorkingFolder ? std::optional<std::string>("/work/dir") : std::nullopt;
    };
    const auto home = app::homeFolder(args, workingFolder, userHome);
    if (home) {
        // Absolute, and no trailing "/" but for the root itself.
        if (home->empty() || home->front() != '/' || (home->size() > 1 && home->back() == '/'))
            __builtin_trap();
        if (contract::runtimeFolder(*home) != (*home == "/" ? "/desktop" : *home + "/desktop"))
            __builtin_trap();
    } else if (hasWorkingFolder && hasUserHome) {
        __builtin_trap();  // everything a home needs was there
    }
    // The first "--home" with a value after it decides; an absolute one as it stands.
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] != "--home") continue;
        if (!args[i + 1].empty() && args[i + 1].front() == '/' && home != trimmed(args[i + 1]))
            __builtin_trap();
        break;
    }
    return 0;
}
