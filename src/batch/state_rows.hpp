#pragma once

#include <cstddef>

#include "vexlo/batch.hpp"
#include "vexlo/world.hpp"

namespace vexlo {

// Rows [begin, end) of a snapshot: positions, velocities and tick counters of
// those worlds, at their rows of out's dense arrays.
void copy_state_rows(const World* worlds, std::size_t n_players, std::size_t begin,
                     std::size_t end, const BatchSnapshot& out) noexcept;

}  // namespace vexlo
