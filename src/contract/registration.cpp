#include "contract/registration.h"

namespace contract {

std::optional<std::int32_t> registrationNumber(std::string_view name) {
    bool negative = false;
    if (!name.empty() && (name.front() == '+' || name.front() == '-')) {
        negative = name.front() == '-';
        name.remove_prefix(1);
    }
    if (name.empty()) return std::nullopt;
    // Accumulate the magnitude; 2147483648 is allowed only with a minus sign.
    const std::int64_t limit = negative ? 2147483648LL : 2147483647LL;
    std::int64_t value = 0;
    for (const char c : name) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > limit) return std::nullopt;
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace contract
