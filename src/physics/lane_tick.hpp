#pragma once

#include <cstddef>
#include <cstdint>

#include "world.hpp"

// Steps several worlds per SIMD instruction, with the same bits as
// World::step: every lane performs the scalar tick's operations in the scalar
// tick's order, and conditional updates become per-lane selects.
namespace vexlo {

inline constexpr std::size_t LANES = 4;

// One batch of ticks for up to LANES worlds.
struct LaneRun {
    World* const* worlds;                // `count` worlds
    std::size_t count;                   // 1 to LANES
    const PlayerInput* const* odd_ticks;   // per world, inputs of ticks 1, 3, 5, ...
    const PlayerInput* const* even_ticks;  // per world, inputs of ticks 2, 4, 6, ...
    std::uint64_t ticks;
    bool stop_at_goal;   // a world stops at its first goal (and reports it)
    std::int8_t* scored; // per world: -1, or the conceding team when stop_at_goal
};

// Runs the batch: lane-parallel on processors with AVX2 when the worlds share
// one layout and geometry (as the environments of one batch do), else one by
// one through the scalar tick.
void step_lanes(const LaneRun& run);

// The same batch through the scalar tick, one world after the other.
void step_scalar(const LaneRun& run);

// Whether this processor can run the lane-parallel tick.
bool lanes_supported();

// The lane-parallel tick itself, for tests that compare it bit for bit with
// the scalar tick. Returns false (and does nothing) when the worlds do not
// share a layout. Call only when lanes_supported().
bool step_lanes_avx2(const LaneRun& run);

}  // namespace vexlo
