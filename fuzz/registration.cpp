// The registration-number rule, against a second reading of it: an optional
// sign, ASCII digits and nothing else, within the signed 32-bit range.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "contract/registration.h"

namespace {

std::optional<std::int32_t> expected(std::string_view name) {
    bool negative = false;
    if (!name.empty() && (name.front() == '+' || name.front() == '-')) {
        negative = name.front() == '-';
        name.remove_prefix(1);
    }
    if (name.empty()) return std::nullopt;
    for (const char c : name)
        if (c < '0' || c > '9') return std::nullopt;
    // Leading zeros are no overflow: from_chars reads them as such.
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(name.data(), name.data() + name.size(), value);
    if (error != std::errc() || end != name.data() + name.size()) return std::nullopt;
    if (negative) value = -value;
    if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view name(reinterpret_cast<const char*>(data), size);
    if (contract::registrationNumber(name) != expected(name)) __builtin_trap();
    return 0;
}
