#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "vexlo/world.hpp"

// The stadium's fixed geometry as observation code wants it: goal lines,
// ball-colliding walls as straight segments, and the obstacle discs.
namespace vexlo {

// Half the length of the segment that stands for an infinite plane, in units
// of the plane's stored normal length.
inline constexpr double PLANE_HALF_LENGTH = 3000.0;
// Ball, both teams and both kickoff groups: a disc meeting any of them blocks play.
inline constexpr std::int64_t OBSTACLE_MASK = 31;

// [x0, y0, x1, y1] of every straight segment whose mask meets the ball, then
// of every such plane, drawn from b - 3000 t to b + 3000 t around its base
// point b = normal * dist with t the normal turned a quarter counter-clockwise.
std::vector<std::array<double, 4>> wall_segments(const World& w);

// [x, y, radius] of every stadium disc whose mask meets OBSTACLE_MASK.
std::vector<std::array<double, 3>> obstacle_discs(const World& w);

}  // namespace vexlo
