#pragma once

#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace platform {

using JsonValue = std::variant<bool, int, std::string>;
using JsonMembers = std::vector<std::pair<std::string, JsonValue>>;

// One JSON object, compact: no whitespace outside strings, no line end. The
// members appear in the order given.
std::string compactJsonObject(const JsonMembers& members);

}  // namespace platform
