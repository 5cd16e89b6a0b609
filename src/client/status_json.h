#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Just enough JSON for status.json: one object whose members are read by key.
namespace quorva::detail {

struct JsonMember {
    enum class Kind { String, Boolean, Integer, Other } kind = Kind::Other;
    std::string key;
    std::string text;  // a string's value
    bool boolean = false;
    std::int64_t integer = 0;
};

// The members of the one object `text` holds, in order; nested values,
// fractions and numbers beyond 64 bits are read but kept as Other. Empty
// with `error` set when the text is not one well-formed JSON object.
std::optional<std::vector<JsonMember>> parseObject(std::string_view text, std::string& error);

// `value` as a JSON string literal.
std::string jsonString(std::string_view value);

}  // namespace quorva::detail
