#pragma once

#include <string_view>

namespace vexlo {

// The built-in "Classic" stadium text, byte for byte.
extern const std::string_view CLASSIC_STADIUM;

}  // namespace vexlo
