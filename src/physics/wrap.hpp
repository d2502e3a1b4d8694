#pragma once

#include <cstdint>

namespace vexlo {

// Counters and credits that settings can push past the 64-bit range wrap in
// two's complement rather than overflow: every bit pattern stays defined.
inline std::int64_t wrapping_sub(std::int64_t a, std::int64_t b) {
    return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
}

inline std::int32_t wrapping_inc(std::int32_t a) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + 1u);
}

}  // namespace vexlo
