#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "clear_box.hpp"
#include "vexlo/world.hpp"

namespace vexlo {

// World::step, skipping the wall tests of a disc inside its clear box from
// `boxes` (made for w's walls; null: every test runs). The same bits.
std::optional<std::int64_t> step_world(World& w, std::span<const PlayerInput> inputs,
                                       ClearBoxCache* boxes);

}  // namespace vexlo
