#pragma once

#include <cstddef>

#include "physics/predict.hpp"
#include "vexlo/world.hpp"

// Ball prediction for several worlds per SIMD instruction, with the same bits
// as predict_ball.
namespace vexlo {

class LaneWorkspace;

// Up to lane_width() worlds at once: out[l][k] receives world l's ball
// position after plan.offsets[k] ticks, as predict_ball gives.
struct LanePrediction {
    const World* const* worlds;  // `count` worlds
    std::size_t count;           // 1 to lane_width()
    const PredictionPlan* plan;
    Vec2* const* out;            // per world, plan.offsets.size() positions
    bool uniform = false;        // as in LaneRun
    TickSpan span{};             // the ticks to run now
    BallMotion* const* carry = nullptr;  // per world, when span is not the whole run
};

// Prediction for the consecutive worlds [begin, end) of one array, in groups
// of lane_width(): row i of `out` (plan.offsets.size() positions) receives
// world i's answers. One call per block saves the per-group setup.
struct PredictionBlock {
    const World* worlds;
    std::size_t begin, end;
    const PredictionPlan* plan;
    Vec2* out;
    bool uniform = false;                // as in LaneRun
    LaneWorkspace* workspace = nullptr;  // as in LaneRun
    std::size_t slot = 0;
    TickSpan span{};              // the ticks to run now
    BallMotion* carry = nullptr;  // per world of the array, when span is not the whole run
};

// The block with the widest instruction set the processor has.
void predict_block(const PredictionBlock& block);

}  // namespace vexlo
