#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace vexlo::flag {

// Collision groups as the stadium files name them. Two objects collide only
// when each one's mask meets the other's group.
inline constexpr std::int64_t FLAG_BALL = 1;
inline constexpr std::int64_t FLAG_RED = 2;
inline constexpr std::int64_t FLAG_BLUE = 4;
inline constexpr std::int64_t FLAG_RED_KO = 8;
inline constexpr std::int64_t FLAG_BLUE_KO = 16;
inline constexpr std::int64_t FLAG_WALL = 32;
inline constexpr std::int64_t FLAG_ALL = 63;
inline constexpr std::int64_t FLAG_KICK = 64;
inline constexpr std::int64_t FLAG_SCORE = 128;

// Every flag name and its bits, as the stadium files write them.
inline constexpr std::pair<std::string_view, std::int64_t> FLAG_NAMES[] = {
    {"ball", FLAG_BALL}, {"red", FLAG_RED},   {"blue", FLAG_BLUE}, {"redKO", FLAG_RED_KO},  {"blueKO", FLAG_BLUE_KO},
    {"wall", FLAG_WALL}, {"all", FLAG_ALL},   {"kick", FLAG_KICK}, {"score", FLAG_SCORE},
};

// The bits of one flag name; names are matched byte for byte and an unknown
// name (another case, "c0", "") contributes nothing.
std::int64_t bits_of(std::string_view name);

// The OR of the bits of every name.
std::int64_t parse(std::span<const std::string> names);
std::int64_t parse(std::span<const std::string_view> names);

inline bool collides(std::int64_t group_a, std::int64_t mask_a, std::int64_t group_b,
                     std::int64_t mask_b) {
    return (mask_a & group_b) != 0 && (group_a & mask_b) != 0;
}

}  // namespace vexlo::flag
