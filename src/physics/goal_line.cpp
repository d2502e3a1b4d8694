#include <algorithm>
#include <cmath>

#include "vexlo/world.hpp"

namespace vexlo {
namespace {

// Whether [a0, a1] and [b0, b1] overlap along the axis on which `dir` is
// longest; the points are known to lie on one line.
bool overlap_along(Vec2 dir, Vec2 a0, Vec2 a1, Vec2 b0, Vec2 b1) {
    const bool use_x = std::fabs(dir.x) >= std::fabs(dir.y);
    const double pa0 = use_x ? a0.x : a0.y, pa1 = use_x ? a1.x : a1.y;
    const double pb0 = use_x ? b0.x : b0.y, pb1 = use_x ? b1.x : b1.y;
    return std::max(std::min(pa0, pa1), std::min(pb0, pb1)) <=
           std::min(std::max(pa0, pa1), std::max(pb0, pb1));
}

// Both ends of the ball's path lie on the goal's supporting line (or the goal
// has no length), so every cross product is 0 and the sign test says nothing.
// The path then counts only if it shares a point with the goal itself.
bool collinear_path_touches_goal(Vec2 a, Vec2 b, const Goal& goal, double s0) {
    const Vec2 e = goal.p1 - goal.p0;
    if (e.x != 0.0 || e.y != 0.0) return overlap_along(e, a, b, goal.p0, goal.p1);
    const Vec2 m = b - a;
    if (m.x == 0.0 && m.y == 0.0) return a == goal.p0;
    // A goal of zero length is a point: the path must pass through it.
    return s0 == 0.0 && overlap_along(m, a, b, goal.p0, goal.p0);
}

}  // namespace

// The ball's centre path from `a` to `b` against the goal line: the goal's
// ends must not lie strictly on one side of the path's line, nor the path's
// ends strictly on one side of the goal's line. A product of exactly 0 counts
// as a crossing, a product that is not a number as none.
bool crosses_goal_line(Vec2 a, Vec2 b, const Goal& goal) {
    const Vec2 p0 = goal.p0;
    const Vec2 p1 = goal.p1;
    const Vec2 m = b - a;
    const double s0 = m.y * (b.x - p0.x) - m.x * (b.y - p0.y);
    const double s1 = m.y * (b.x - p1.x) - m.x * (b.y - p1.y);
    const double s = s0 * s1;
    if (s > 0.0 || std::isnan(s)) return false;
    const Vec2 e = p1 - p0;
    const double u0 = (a.x - p0.x) * e.y - (a.y - p0.y) * e.x;
    const double u1 = (b.x - p0.x) * e.y - (b.y - p0.y) * e.x;
    const double u = u0 * u1;
    if (u > 0.0 || std::isnan(u)) return false;
    if (u0 == 0.0 && u1 == 0.0) return collinear_path_touches_goal(a, b, goal, s0);
    return true;
}

}  // namespace vexlo
