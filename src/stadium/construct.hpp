#pragma once

// The steps of world construction that tests and the stadium description
// reach on their own: trait lookup, disc references, the engine frame, the
// arc of a segment, a player's disc and the World of a decoded text.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "vexlo/stadium.hpp"
#include "vexlo/world.hpp"
#include "records.hpp"

namespace vexlo::stadium {

// Arcs are made only for angles strictly between these (9.99 and 340 degrees).
inline constexpr double MIN_ARC_ANGLE = 0.17435839227423353;
inline constexpr double MAX_ARC_ANGLE = 5.934119456780721;
// Degrees in the file to radians in the engine frame, where turns run the
// other way: one multiplication by -pi/180.
inline constexpr double DEGREES_TO_ENGINE_ANGLE = -0.017453292519943295;
inline constexpr double DEFAULT_SPAWN_DISTANCE = 277.5;

// The trait of that name, or none (no name, or a name not among the traits).
const Props* find_trait(const RawStadium& st, const std::optional<std::string>& name);

// The index of a disc reference: "disc", an optional '+', then decimal
// digits that fit in 64 bits, and nothing else.
std::optional<std::uint64_t> disc_ref_index(std::string_view ref);

// A file point in the engine frame: y reversed.
Vec2 engine_point(const RawPoint& p);

// A segment from its end points (already in the engine frame) and its
// resolved properties: orientation, bias side, and the arc when the curve
// asks for one.
Segment make_segment(Vec2 e0, Vec2 e1, const Props& props);

// A player of `team` (its flag) at rest at the origin, "playerPhysics" over
// the defaults.
Disc player_disc(const RawPlayerPhysics& physics, std::int64_t team);

// The World of a decoded stadium (see world_from_vxs), or the construction
// error.
WorldOrError build_world(const RawStadium& st, std::uint64_t n_red, std::uint64_t n_blue);

}  // namespace vexlo::stadium
