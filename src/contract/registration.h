#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace contract {

// A registration's name read as a process id: an optional single "+" or "-",
// then one or more ASCII digits and nothing else, within the signed 32-bit
// range. Leading zeros are fine; anything else is not a number.
std::optional<std::int32_t> registrationNumber(std::string_view name);

}  // namespace contract
