#pragma once

// Small text helpers shared by the decoder and world construction: positions
// within the stadium text and the quoting of values inside messages.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vexlo::stadium {

// " at line {line} column {column}" for the place reached after consuming the
// first `consumed` bytes of `text`: lines count from 1, and the column is the
// number of bytes consumed on that line (0 right after a line feed).
std::string position_suffix(std::string_view text, std::size_t consumed);

// `s` in double quotes, with a backslash before '"' and '\\', and control
// characters written as escapes (\n, \t, \r, \0, else \u{hex}). A long `s`
// is shortened first (below).
std::string quote(std::string_view s);

// `s` when it has at most ECHO_LIMIT bytes, else its start and its end
// around "..." in ECHO_LIMIT bytes, cut between UTF-8 characters: a message
// that echoes a value of the text stays readable however long the value is.
inline constexpr std::size_t ECHO_LIMIT = 80;
std::string shortened(std::string_view s);

// A double as the shortest decimal that reads back to it, never in exponent
// form, with ".0" added when it has no fraction ("2.0", "-0.0", "0.1").
std::string float_text(double v);

// `s` with every byte that is not part of a well-formed UTF-8 sequence
// written as "<0xNN>", so that a message is always valid UTF-8.
std::string valid_utf8(std::string_view s);

}  // namespace vexlo::stadium
