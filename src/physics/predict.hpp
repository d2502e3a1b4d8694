#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "vexlo/world.hpp"

namespace vexlo {

// The offsets of one prediction call, sorted once so that every environment
// can fill its answers in a single forward run of ticks.
struct PredictionPlan {
    std::vector<std::uint64_t> offsets;  // as asked, in the caller's order
    std::vector<std::size_t> order;      // indices into offsets, by ascending offset
    std::uint64_t last_tick = 0;         // the largest offset: ticks to run
};

PredictionPlan plan_prediction(std::vector<std::uint64_t> offsets);

// The position in plan.order of the first answer due at `tick` or later.
std::size_t first_answer_at(const PredictionPlan& plan, std::uint64_t tick);

// The part of the ball's state that a prediction changes.
struct BallMotion {
    Vec2 pos;
    Vec2 vel;
};

// The ticks after `after` up to `until` (and no further than the plan's last
// tick). A long prediction runs as consecutive spans, so that its caller can
// look for an interruption between them; the ball's motion where one span
// ends is carried to the next, which gives the same bits as one run.
struct TickSpan {
    std::uint64_t after = 0;
    std::uint64_t until = UINT64_MAX;
};

// Where the ball will be after each offset if no player touches it: only the
// ball moves, against the stadium's fixed discs, planes and segments, with the
// tick's own contact code. out[k] receives the position after offsets[k]
// ticks (0: the current position). Reads the World, writes only `out`, and
// `carry`: a span that does not start at tick 0 starts from *carry, one that
// ends before the plan's last tick leaves the ball's motion there.
void predict_ball(const World& w, const PredictionPlan& plan, std::span<Vec2> out,
                  TickSpan span = {}, BallMotion* carry = nullptr);

}  // namespace vexlo
