#include "text.hpp"

#include <array>
#include <charconv>
#include <cmath>

namespace vexlo::stadium {

std::string position_suffix(std::string_view text, std::size_t consumed) {
    if (consumed > text.size()) consumed = text.size();
    std::size_t line = 1;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < consumed; ++i) {
        if (text[i] == '\n') {
            ++line;
            line_start = i + 1;
        }
    }
    return " at line " + std::to_string(line) + " column " + std::to_string(consumed - line_start);
}

namespace {

const char HEX[] = "0123456789abcdef";

void append_unicode_escape(std::string& out, unsigned code) {
    out += "\\u{";
    char digits[8];
    int n = 0;
    do {
        digits[n++] = HEX[code & 0xF];
        code >>= 4;
    } while (code != 0);
    while (n > 0) out += digits[--n];
    out += '}';
}

bool is_continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string shortened(std::string_view s) {
    if (s.size() <= ECHO_LIMIT) return std::string(s);
    constexpr std::string_view DOTS = "...";
    // The end shows where the value went wrong, so it gets the larger part.
    std::size_t head = (ECHO_LIMIT - DOTS.size()) / 3;
    std::size_t tail = s.size() - (ECHO_LIMIT - DOTS.size() - head);
    while (head > 0 && is_continuation(s[head])) --head;
    while (tail < s.size() && is_continuation(s[tail])) ++tail;
    std::string out(s.substr(0, head));
    out += DOTS;
    out += s.substr(tail);
    return out;
}

std::string quote(std::string_view value) {
    const std::string s = shortened(value);
    std::string out;
    out.reserve(s.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < s.size(); ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    append_unicode_escape(out, c);
                } else if (c == 0xC2 && i + 1 < s.size() &&
                           static_cast<unsigned char>(s[i + 1]) >= 0x80 &&
                           static_cast<unsigned char>(s[i + 1]) <= 0x9F) {
                    // U+0080..U+009F, the second block of control characters
                    append_unicode_escape(out, static_cast<unsigned char>(s[i + 1]));
                    ++i;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
    return out;
}

std::string float_text(double v) {
    if (!std::isfinite(v)) return std::isnan(v) ? "NaN" : (v > 0 ? "inf" : "-inf");
    std::array<char, 512> buf{};
    const auto res = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed);
    std::string out(buf.data(), res.ptr);
    if (out.find('.') == std::string::npos) out += ".0";
    return out;
}

namespace {

// Length of the well-formed UTF-8 sequence starting at s[i], or 0.
std::size_t utf8_sequence(std::string_view s, std::size_t i) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    if (b0 < 0x80) return 1;
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0) lo = 0xA0;
        if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0) lo = 0x90;
        if (b0 == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        const unsigned char min = k == 1 ? lo : 0x80;
        const unsigned char max = k == 1 ? hi : 0xBF;
        if (b < min || b > max) return 0;
    }
    return len;
}

}  // namespace

std::string valid_utf8(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        const std::size_t len = utf8_sequence(s, i);
        if (len == 0) {
            const auto b = static_cast<unsigned char>(s[i]);
            out += "<0x";
            out += "0123456789ABCDEF"[b >> 4];
            out += "0123456789ABCDEF"[b & 0xF];
            out += '>';
            ++i;
        } else {
            out.append(s, i, len);
            i += len;
        }
    }
    return out;
}

}  // namespace vexlo::stadium
