#pragma once

// Shortcuts for the stadium tests: build a World from a text, or get the one
// error text it fails with.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <variant>

#include "vexlo/world.hpp"
#include "vexlo/stadium.hpp"

namespace vexlo::stadium_test {

inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The World the text builds; a failure is reported and gives an empty World.
inline World build(std::string_view text, std::uint64_t n_red = 0, std::uint64_t n_blue = 0) {
    auto result = world_from_vxs(text, n_red, n_blue);
    if (auto* error = std::get_if<std::string>(&result)) {
        ADD_FAILURE() << "unexpected error: " << *error << "\nfor: " << text;
        return World{};
    }
    return std::get<World>(std::move(result));
}

// The error text the text fails with; a successful build is reported.
inline std::string error_of(std::string_view text, std::uint64_t n_red = 0, std::uint64_t n_blue = 0) {
    auto result = world_from_vxs(text, n_red, n_blue);
    if (auto* error = std::get_if<std::string>(&result)) return *error;
    ADD_FAILURE() << "built without error: " << text;
    return "";
}

inline std::string bad_json(std::string_view message, int line, int column) {
    return "bad .vxs JSON: " + std::string(message) + " at line " + std::to_string(line) + " column " +
           std::to_string(column);
}

}  // namespace vexlo::stadium_test

// Bit-for-bit comparison of both coordinates (so -0.0 and 0.0 differ).
#define EXPECT_VEC_BITS(v, X, Y)                                                   \
    do {                                                                           \
        const ::vexlo::Vec2 got_ = (v);                                            \
        EXPECT_TRUE(::vexlo::stadium_test::same_bits(got_.x, (X)))                 \
            << #v ".x is " << got_.x << ", expected " << (X);                      \
        EXPECT_TRUE(::vexlo::stadium_test::same_bits(got_.y, (Y)))                 \
            << #v ".y is " << got_.y << ", expected " << (Y);                      \
    } while (0)
