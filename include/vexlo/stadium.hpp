#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "vexlo/world.hpp"

namespace vexlo {

// The start of every message about a text that is not a stadium's JSON.
inline constexpr std::string_view BAD_JSON_PREFIX = "bad .vxs JSON: ";

// A built World, or the one error text that stopped construction.
using WorldOrError = std::variant<World, std::string>;

// Decodes a stadium text and builds a World in the engine frame (y reversed)
// with n_red red and n_blue blue players, placed for the first kickoff.
// Player counts are not checked here: zero players is a valid World.
WorldOrError world_from_vxs(std::string_view text, std::uint64_t n_red, std::uint64_t n_blue);

// A wall as the engine keeps it, with what only a picture needs: whether it
// is drawn ("vis") and, for an arc, its turn in radians, counter-clockwise
// from segment.v0 to segment.v1 around segment.center (0: straight).
struct WallDescription {
    Segment segment;
    double turn = 0.0;
    bool visible = true;
};

// A stadium disc as the engine builds it, its colour as the text gives it
// (none unless a string), and whether it blocks play (an obstacle).
struct DiscDescription {
    Disc disc;
    std::optional<std::string> color;
    bool obstacle = false;
};

// The painted pitch: half width, half height and the kick-off circle's radius.
struct Pitch {
    double half_width = 0.0;
    double half_height = 0.0;
    double kick_off_radius = 0.0;
};

// Everything observers and pictures read of a stadium, engine frame: the
// World's walls, planes, goals and discs, the rows of the walls that stop
// the ball, the defaults the World was built with, and the drawing data.
struct StadiumDescription {
    std::vector<WallDescription> walls;  // one per segment, in the text's order
    std::vector<Plane> planes;
    std::vector<Goal> goals;
    std::vector<DiscDescription> discs;  // the stadium's discs but the ball's own
    // [x0, y0, x1, y1] of the straight walls and planes that stop the ball.
    std::vector<std::array<double, 4>> ball_walls;
    double ball_radius = 0.0;
    double player_radius = 0.0;
    double spawn_distance = 0.0;
    std::int64_t kick_rate_min = 0;
    std::int64_t kick_rate_cost = 0;
    std::int64_t kick_rate_cap = 0;
    std::optional<double> width;  // the declared half size, when numbers
    std::optional<double> height;
    std::optional<Pitch> pitch;  // when "bg" gives both sizes
};

using DescriptionOrError = std::variant<StadiumDescription, std::string>;

// Decodes and builds a stadium text as world_from_vxs does (same errors)
// and describes it.
DescriptionOrError describe_stadium(std::string_view text);

}  // namespace vexlo
