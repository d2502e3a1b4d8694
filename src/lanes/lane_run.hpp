#pragma once

#include <cstddef>
#include <cstdint>

#include "vexlo/world.hpp"

// A batch of ticks for several worlds, stepped by one SIMD instruction per
// operation with the same bits as World::step.
namespace vexlo {

class LaneWorkspace;

// The most environments one instruction can step (eight with AVX-512).
inline constexpr std::size_t MAX_LANES = 8;

// One batch of ticks for up to lane_width() worlds. Two sets of inputs
// alternate, starting with the first: the first set drives ticks 0, 2, 4, ...
// of the batch, the second ticks 1, 3, 5, ... (pass the same set twice to
// hold one input throughout).
struct LaneRun {
    World* const* worlds;                     // `count` worlds
    std::size_t count;                        // 1 to lane_width()
    const PlayerInput* const* first_inputs;   // per world, one input per player
    const PlayerInput* const* second_inputs;  // per world, one input per player
    std::uint64_t ticks;
    bool stop_at_goal;    // a world stops at its first goal (and reports it)
    std::int8_t* scored;  // per world: -1, or the conceding team when stop_at_goal
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

// Runs the batch (count up to lane_width()): lane-parallel when the worlds
// share one layout and geometry, as the environments of one batch do, else
// one by one through the scalar tick.
void step_lanes(const LaneRun& run);

// The same batch through the scalar tick, one world after the other.
void step_scalar(const LaneRun& run);

}  // namespace vexlo
