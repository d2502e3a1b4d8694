#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "predict.hpp"
#include "vexlo/world.hpp"

// Steps several worlds per SIMD instruction, with the same bits as
// World::step: every lane performs the scalar tick's operations in the scalar
// tick's order, and conditional updates become per-lane selects.
namespace vexlo {

// The most environments one instruction can step (eight with AVX-512).
inline constexpr std::size_t MAX_LANES = 8;

// Working memory of the lane-parallel ticks and predictions for a batch of
// worlds that are copies of one template: the wall constants of their shared
// stadium, made once and then only read by every thread, and one slot of lane
// state per thread taking part in a parallel call. It is made on the calling
// thread, where running out of memory can still be reported, and the ticks
// only ever write into it: they allocate nothing. It points into the
// template's arrays, which must outlive it unchanged.
class LaneWorkspace {
public:
    virtual ~LaneWorkspace() = default;
    virtual std::size_t slots() const = 0;
};

// For worlds that are copies of `batch_template`, with `slots` slots (at
// least 1). Throws std::bad_alloc.
std::unique_ptr<LaneWorkspace> make_lane_workspace(const World& batch_template, std::size_t slots);

// One batch of ticks for up to lane_width() worlds.
struct LaneRun {
    World* const* worlds;                // `count` worlds
    std::size_t count;                   // 1 to lane_width()
    const PlayerInput* const* odd_ticks;   // per world, inputs of ticks 1, 3, 5, ...
    const PlayerInput* const* even_ticks;  // per world, inputs of ticks 2, 4, 6, ...
    std::uint64_t ticks;
    bool stop_at_goal;   // a world stops at its first goal (and reports it)
    std::int8_t* scored; // per world: -1, or the conceding team when stop_at_goal
    // The caller's promise that the worlds are copies of one template that
    // differ only in what ticks and state exchange change (positions,
    // velocities, collision masks, kick and match state): the stepper then
    // skips comparing their geometry and reads the fixed disc properties
    // from the first world.
    bool uniform = false;
    // With a uniform run: the workspace of the worlds' batch and the slot of
    // it that this thread alone uses. Without one, the stepper makes its own
    // working memory (so it allocates: only for callers outside the pool).
    LaneWorkspace* workspace = nullptr;
    std::size_t slot = 0;
};

// How many worlds step_lanes takes at once on this processor: 8 with
// AVX-512, 4 with AVX2, else 1 (the scalar tick).
std::size_t lane_width();

// Runs the batch (count up to lane_width()): lane-parallel when the worlds
// share one layout and geometry, as the environments of one batch do, else
// one by one through the scalar tick.
void step_lanes(const LaneRun& run);

// The same batch through the scalar tick, one world after the other.
void step_scalar(const LaneRun& run);

// The lane-parallel ticks themselves, for tests that compare them bit for bit
// with the scalar tick. Each returns false (and does nothing) when the worlds
// do not share a layout. Call only on processors that have the instructions.
bool step_lanes_avx2(const LaneRun& run);    // up to 4 worlds
bool step_lanes_avx512(const LaneRun& run);  // up to 8 worlds
bool has_avx2();
bool has_avx512();

// Ball prediction for up to lane_width() worlds at once: out[l][k] receives
// world l's ball position after plan.offsets[k] ticks, as predict_ball gives.
// The entries below return false (and do nothing) when the worlds do not
// share a layout; call them only on processors that have the instructions.
struct LanePrediction {
    const World* const* worlds;  // `count` worlds
    std::size_t count;           // 1 to lane_width()
    const PredictionPlan* plan;
    Vec2* const* out;            // per world, plan.offsets.size() positions
    bool uniform = false;        // as in LaneRun
    TickSpan span{};             // the ticks to run now
    BallMotion* const* carry = nullptr;  // per world, when span is not the whole run
};

bool predict_lanes_avx2(const LanePrediction& job);
bool predict_lanes_avx512(const LanePrediction& job);

// Prediction for the consecutive worlds [begin, end) of one array, in groups
// of lane_width(): row i of `out` (plan.offsets.size() positions) receives
// world i's answers. One call per block saves the per-group setup.
struct PredictionBlock {
    const World* worlds;
    std::size_t begin, end;
    const PredictionPlan* plan;
    Vec2* out;
    bool uniform = false;  // as in LaneRun
    LaneWorkspace* workspace = nullptr;  // as in LaneRun
    std::size_t slot = 0;
    TickSpan span{};             // the ticks to run now
    BallMotion* carry = nullptr;  // per world of the array, when span is not the whole run
};

void predict_block(const PredictionBlock& block);
void predict_block_avx2(const PredictionBlock& block);
void predict_block_avx512(const PredictionBlock& block);

std::unique_ptr<LaneWorkspace> make_lane_workspace_avx2(const World& batch_template, std::size_t slots);
std::unique_ptr<LaneWorkspace> make_lane_workspace_avx512(const World& batch_template,
                                                          std::size_t slots);

}  // namespace vexlo
