#pragma once

#include <cmath>

namespace vexlo {

// A point or direction in stadium units. Every operation rounds on its own:
// the build forbids contraction, so `a.x * b.x + a.y * b.y` stays two
// products and a sum, exactly as the game computes it.
struct Vec2 {
    double x = 0.0;
    double y = 0.0;
};

inline Vec2 operator+(Vec2 a, Vec2 b) { return {a.x + b.x, a.y + b.y}; }
inline Vec2 operator-(Vec2 a, Vec2 b) { return {a.x - b.x, a.y - b.y}; }
inline Vec2 operator*(Vec2 a, double k) { return {a.x * k, a.y * k}; }
inline bool operator==(Vec2 a, Vec2 b) { return a.x == b.x && a.y == b.y; }

inline double length_sq(Vec2 a) { return a.x * a.x + a.y * a.y; }

// p + v, with p's NaN where both are NaNs. The processor returns the first
// operand's NaN then, but the compiler orders a sum's operands as it likes
// (differently with and without optimisation, and in the batched stepper),
// so the motion of a disc whose position and velocity are both NaN names
// the one it keeps.
inline double add_first_nan(double p, double v) { return std::isnan(p) ? p + p : p + v; }
inline Vec2 moved(Vec2 p, Vec2 v) { return {add_first_nan(p.x, v.x), add_first_nan(p.y, v.y)}; }

}  // namespace vexlo
