#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "world.hpp"

namespace vexlo {

// The offsets of one prediction call, sorted once so that every environment
// can fill its answers in a single forward run of ticks.
struct PredictionPlan {
    std::vector<std::uint64_t> offsets;  // as asked, in the caller's order
    std::vector<std::size_t> order;      // indices into offsets, by ascending offset
    std::uint64_t last_tick = 0;         // the largest offset: ticks to run
};

PredictionPlan plan_prediction(std::vector<std::uint64_t> offsets);

// Where the ball will be after each offset if no player touches it: only the
// ball moves, against the stadium's fixed discs, planes and segments, with the
// tick's own contact code. out[k] receives the position after offsets[k]
// ticks (0: the current position). Reads the World, writes only `out`.
void predict_ball(const World& w, const PredictionPlan& plan, std::span<Vec2> out);

}  // namespace vexlo
