// step, rollout, reset_all and reset_mask.
#include <algorithm>
#include <array>
#include <string>

#include "batch/state.hpp"
#include "batch/step_groups.hpp"
#include "batch/worker_pool.hpp"
#include "lanes/lanes.hpp"

namespace vexlo {
namespace {

struct ResetMaskTask {
    World* worlds;
    const StridedView<std::uint8_t, 1>* mask;

    void operator()(std::size_t begin, std::size_t end) const noexcept {
        for (std::size_t e = begin; e < end; ++e) {
            if ((*mask)(e)) restart_match(worlds[e]);
        }
    }
};

// Every slot presses (1, 1) and kick; slot 0 releases the kick on every
// second tick so that it keeps re-arming. Goals are ignored.
struct BenchTask {
    World* worlds;
    std::size_t n_envs;
    std::uint64_t n_steps;
    std::size_t width;
    LaneWorkspace* workspace;

    void operator()(std::size_t participant, std::size_t group_begin,
                    std::size_t group_end) const noexcept {
        std::array<PlayerInput, MAX_PLAYERS> pressed;
        pressed.fill(PlayerInput{1, 1, 1});
        std::array<PlayerInput, MAX_PLAYERS> released = pressed;
        released[0].kick = 0;
        // The first input set drives ticks 0, 2, 4, ...; the second 1, 3, 5, ...
        std::array<const PlayerInput*, MAX_LANES> first_inputs, second_inputs;
        first_inputs.fill(pressed.data());
        second_inputs.fill(released.data());
        std::array<std::int8_t, MAX_LANES> ignored;
        for (std::size_t g = group_begin; g < group_end; ++g) {
            const std::size_t first = g * width;
            const std::size_t count = std::min(width, n_envs - first);
            std::array<World*, MAX_LANES> group{};
            for (std::size_t l = 0; l < count; ++l) group[l] = &worlds[first + l];
            step_lanes(LaneRun{group.data(), count, first_inputs.data(), second_inputs.data(), n_steps, false,
                               ignored.data(), UNIFORM, workspace, participant});
        }
    }
};

// A rollout asks whether to stop after about this many ticks in all: a
// small fraction of a second at the usual rates, and rare enough that the
// question costs nothing measurable.
constexpr std::uint64_t TICKS_BETWEEN_STOP_CHECKS = std::uint64_t{1} << 22;

// Steps of one chunk of a rollout of n environments: an even number, so
// that every chunk starts with the first input set, as the whole run does,
// and the inputs alternate across chunk boundaries exactly as within a chunk.
std::uint64_t rollout_chunk_steps(std::size_t n) {
    return std::max<std::uint64_t>(2, TICKS_BETWEEN_STOP_CHECKS / n) & ~std::uint64_t{1};
}

}  // namespace

BatchStatus Batch::step(StridedView<std::int64_t, 3> actions, std::int8_t* scored) {
    State& b = *s_;
    const std::size_t n = b.worlds.size();
    if (BatchStatus refused =
            check_step_actions("physics_step", actions, n, static_cast<std::size_t>(b.n_players)))
        return refused;
    std::fill(scored, scored + n, NO_GOAL);
    WorkerPool& pool = shared_pool();
    const std::size_t width = lane_width();
    WorkspaceLease workspace(b.workspace, b.worlds[0], pool.participants(), width);
    StepTask task{b.worlds.data(), n, &actions, scored, static_cast<std::size_t>(b.n_players),
                  b.tick_skip, width, workspace.get()};
    pool.parallel_for(group_count(n, width), task);
    return std::nullopt;
}

bool Batch::rollout(std::uint64_t n_steps, StopCheck stop) {
    if (n_steps == 0) return true;
    State& b = *s_;
    const std::size_t n = b.worlds.size();
    WorkerPool& pool = shared_pool();
    const std::size_t width = lane_width();
    WorkspaceLease workspace(b.workspace, b.worlds[0], pool.participants(), width);
    const std::uint64_t chunk = rollout_chunk_steps(n);
    for (std::uint64_t done = 0; done < n_steps;) {
        BenchTask task{b.worlds.data(), n, std::min(chunk, n_steps - done), width, workspace.get()};
        pool.parallel_for(group_count(n, width), task);
        done += task.n_steps;
        // The worlds are whole between chunks: an interrupted call leaves
        // them some ticks further on, as usable as after any step.
        if (done < n_steps && stop()) return false;
    }
    return true;
}

void Batch::reset_all() {
    for (World& w : s_->worlds) restart_match(w);
}

BatchStatus Batch::reset_mask(StridedView<std::uint8_t, 1> mask) {
    const std::size_t n = s_->worlds.size();
    if (static_cast<std::size_t>(mask.shape[0]) != n)
        return invalid("reset_mask: mask length " + decimal(mask.shape[0]) + " != n_envs " +
                       decimal(n));
    ResetMaskTask task{s_->worlds.data(), &mask};
    shared_pool().parallel_for(n, task);
    return std::nullopt;
}

}  // namespace vexlo
