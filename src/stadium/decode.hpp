#pragma once

#include <string>
#include <string_view>
#include <variant>

#include "records.hpp"

namespace vexlo::stadium {

// A decoded stadium, or the decoder's one message, which ends with
// " at line {line} column {column}": the place in the text where the decoder
// stopped (a missing field is reported at its object's closing brace).
using DecodeResult = std::variant<RawStadium, std::string>;

// Decodes a stadium text (UTF-8): one JSON object, then only whitespace.
// Memory and time are linear in the text's size, and nesting deeper than 127
// levels is refused without recursing on the machine stack.
DecodeResult decode(std::string_view text);

}  // namespace vexlo::stadium
