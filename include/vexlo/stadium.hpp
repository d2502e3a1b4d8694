#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

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

}  // namespace vexlo
