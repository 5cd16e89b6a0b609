#include "client/status_json.h"

namespace quorva::detail {
namespace {

// A hostile file gets no deeper than this into the parser's stack.
constexpr int kMaxDepth = 32;

class Parser {
  public:
    explicit Parser(std::string_view text) : s_(text) {}

    bool object(std::vector<JsonMember>* members, int depth) {
        if (!eat('{') || depth > kMaxDepth) return false;
        if (eat('}')) return true;
        do {
            JsonMember m;
            skipSpace();
            if (!string(m.key) || !eat(':') || !value(m, depth)) return false;
            if (members) members->push_back(std::move(m));
        } while (eat(','));
        return eat('}');
    }

    bool atEnd() {
        skipSpace();
        return i_ == s_.size();
    }
    std::size_t offset() const { return i_; }

  private:
    void skipSpace() {
        while (i_ < s_.size() &&
               (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\n' || s_[i_] == '\r'))
            ++i_;
    }
    bool eat(char c) {
        skipSpace();
        if (i_ >= s_.size() || s_[i_] != c) return false;
        ++i_;
        return true;
    }
    bool word(std::string_view w) {
        if (s_.substr(i_, w.size()) != w) return false;
        i_ += w.size();
        return true;
    }

    bool value(JsonMember& m, int depth) {
        skipSpace();
        if (i_ >= s_.size()) return false;
        using Kind = JsonMember::Kind;
        switch (s_[i_]) {
            case '"':
                m.kind = Kind::String;
                return string(m.text);
            case 't':
                m.kind = Kind::Boolean;
                m.boolean = true;
                return word("true");
            case 'f':
                m.kind = Kind::Boolean;
                return word("false");
            case 'n':
                return word("null");
            case '{':
                return object(nullptr, depth + 1);
            case '[':
                return array(depth + 1);
            default:
                return number(m);
        }
    }

    bool array(int depth) {
        if (!eat('[') || depth > kMaxDepth) return false;
        if (eat(']')) return true;
        do {
            JsonMember ignored;
            if (!value(ignored, depth)) return false;
        } while (eat(','));
        return eat(']');
    }

    std::size_t digits() {
        const std::size_t from = i_;
        while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9') ++i_;
        return i_ - from;
    }

    bool number(JsonMember& m) {
        const std::size_t from = i_;
        const bool negative = word("-");
        const std::size_t intStart = i_;
        const std::size_t n = digits();
        if (n == 0 || (n > 1 && s_[intStart] == '0')) return false;
        bool whole = true;
        if (word(".")) {
            whole = false;
            if (digits() == 0) return false;
        }
        if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
            ++i_;
            whole = false;
            if (!word("+")) word("-");
            if (digits() == 0) return false;
        }
        if (!whole || n > 18) return true;  // Other: no member we read is such a number
        std::int64_t v = 0;
        for (std::size_t k = intStart; k < intStart + n; ++k) v = v * 10 + (s_[k] - '0');
        m.kind = JsonMember::Kind::Integer;
        m.integer = negative ? -v : v;
        return i_ > from;
    }

    static void appendUtf8(std::string& out, std::uint32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    }

    bool hex4(std::uint32_t& out) {
        if (i_ + 4 > s_.size()) return false;
        out = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = s_[i_++];
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
            if (d < 0) return false;
            out = out * 16 + static_cast<std::uint32_t>(d);
        }
        return true;
    }

    bool escape(std::string& out) {
        if (i_ >= s_.size()) return false;
        const char c = s_[i_++];
        const std::string_view simple = "\"\\/bfnrt", meant = "\"\\/\b\f\n\r\t";
        if (const auto k = simple.find(c); k != std::string_view::npos) {
            out += meant[k];
            return true;
        }
        std::uint32_t cp = 0;
        if (c != 'u' || !hex4(cp)) return false;
        if (cp >= 0xDC00 && cp <= 0xDFFF) return false;  // a lone low surrogate
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            std::uint32_t low = 0;
            if (!word("\\u") || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        }
        appendUtf8(out, cp);
        return true;
    }

    bool string(std::string& out) {
        if (i_ >= s_.size() || s_[i_] != '"') return false;
        ++i_;
        while (i_ < s_.size()) {
            const char c = s_[i_++];
            if (c == '"') return true;
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\')
                out += c;
            else if (!escape(out))
                return false;
        }
        return false;
    }

    std::string_view s_;
    std::size_t i_ = 0;
};

}  // namespace

std::optional<std::vector<JsonMember>> parseObject(std::string_view text, std::string& error) {
    Parser p(text);
    std::vector<JsonMember> members;
    if (p.object(&members, 0) && p.atEnd()) return members;
    error = "not one JSON object (stops making sense at byte " + std::to_string(p.offset()) + ")";
    return std::nullopt;
}

std::string jsonString(std::string_view value) {
    std::string out = "\"";
    for (const char c : value) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[(c >> 4) & 0xF];
            out += hex[c & 0xF];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace quorva::detail
