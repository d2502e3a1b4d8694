#pragma once

// Goal-line crossings for every lane at once, as first_goal_crossed.
// Part of the lane code compiled once per instruction set (see
// lane_vectors.hpp).

#include <cstddef>

#include "vexlo/world.hpp"

namespace vexlo::lanes {
namespace {

// The goal-line sign tests for every lane at once. A lane whose path lies
// along the goal's own line (both of the goal's products exactly 0) needs the
// scalar test's shared-point rule and is reported in `collinear`.
struct GoalCrossing {
    i64v crossed;
    i64v collinear;
};

GoalCrossing goal_crossing(f64v ax, f64v ay, f64v bx, f64v by, const Goal& goal) {
    const Vec2 p0 = goal.p0, p1 = goal.p1;
    const f64v mx = bx - ax, my = by - ay;
    const f64v s0 = my * (bx - p0.x) - mx * (by - p0.y);
    const f64v s1 = my * (bx - p1.x) - mx * (by - p1.y);
    const Vec2 e = p1 - p0;
    const f64v u0 = (ax - p0.x) * e.y - (ay - p0.y) * e.x;
    const f64v u1 = (bx - p0.x) * e.y - (by - p0.y) * e.x;
    // "Not above 0" also refuses a product that is not a number.
    const i64v signs = ((s0 * s1) <= 0.0) & ((u0 * u1) <= 0.0);
    const i64v along = (u0 == 0.0) & (u1 == 0.0);
    return GoalCrossing{signs & ~along, signs & along};
}

// Per lane, the first goal crossed this tick (goals.size() for none).
void first_goals_crossed(const World& w0, f64v ax, f64v ay, f64v bx, f64v by,
                         std::size_t (&first)[W]) {
    const std::size_t none = w0.goals.size();
    for (std::size_t l = 0; l < W; ++l) first[l] = none;
    for (std::size_t g = 0; g < none; ++g) {
        const GoalCrossing c = goal_crossing(ax, ay, bx, by, w0.goals[g]);
        if (!any(c.crossed | c.collinear)) continue;
        for (std::size_t l = 0; l < W; ++l) {
            if (first[l] != none) continue;
            if (c.crossed[l] || (c.collinear[l] && crosses_goal_line(Vec2{ax[l], ay[l]},
                                                                     Vec2{bx[l], by[l]},
                                                                     w0.goals[g])))
                first[l] = g;
        }
    }
}

}  // namespace
}  // namespace vexlo::lanes
