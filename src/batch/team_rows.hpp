#pragma once

#include <cstddef>

#include "vexlo/batch.hpp"

namespace vexlo {

// Rows [begin, end) of the default team observation of `state` in `frame`
// (see Batch::team_observation), with `ahead` holding every environment's K
// predicted ball positions, at their rows of the dense `out`: whole groups of
// lane_width() environments through the vector rows, the rest one by one.
void write_team_rows(const BatchStateView& state, const TeamFrame& frame, const double* ahead,
                     std::size_t k, std::size_t begin, std::size_t end, float* out) noexcept;
// The same rows one environment after the other, without vector instructions.
void write_scalar_team_rows(const BatchStateView& state, const TeamFrame& frame,
                            const double* ahead, std::size_t k, std::size_t begin,
                            std::size_t end, float* out) noexcept;

// Refuses a frame without a viewer or with a slot past the batch's players;
// `call` names the refusing call in the message.
BatchStatus check_team_frame(const char* call, const TeamFrame& frame, std::size_t n_players);

}  // namespace vexlo
