#include "platform/json.h"

#include <cstdio>

namespace platform {
namespace {

void appendString(std::string& out, const std::string& s) {
    out += '"';
    for (const char c : s) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out += escaped;
                } else {
                    out += c;  // UTF-8 passes as it is
                }
        }
    }
    out += '"';
}

}  // namespace

// Written by hand rather than through Qt's JSON classes: it runs every second,
// and keeps the tick clear of the toolkit.
std::string compactJsonObject(const JsonMembers& members) {
    std::string out = "{";
    for (const auto& [key, value] : members) {
        if (out.size() > 1) out += ',';
        appendString(out, key);
        out += ':';
        if (const auto* b = std::get_if<bool>(&value))
            out += *b ? "true" : "false";
        else if (const auto* i = std::get_if<int>(&value))
            out += std::to_string(*i);
        else
            appendString(out, std::get<std::string>(value));
    }
    return out + "}";
}

}  // namespace platform
