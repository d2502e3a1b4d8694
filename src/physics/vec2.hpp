#pragma once

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

}  // namespace vexlo
