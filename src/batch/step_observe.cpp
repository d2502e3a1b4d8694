// Batch::step_observe: step, restart, snapshot and observe in one pass.
#include <algorithm>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "batch/prediction_spans.hpp"
#include "batch/state.hpp"
#include "batch/state_rows.hpp"
#include "batch/step_groups.hpp"
#include "batch/team_rows.hpp"
#include "batch/worker_pool.hpp"
#include "lanes/lane_prediction.hpp"
#include "physics/predict.hpp"

namespace vexlo {
namespace {

// Worlds handled per pass of the steps below: few enough that they are still
// in the cache when the snapshot and the prediction read them again.
constexpr std::size_t WORLDS_PER_PASS = 32;

// Each pass steps its groups, restarts, copies their state rows and, when
// the prediction is short enough to run without looking for an interruption,
// predicts and writes their observation rows as well.
struct StepObserveTask {
    StepTask step;
    const EnvMask* restart;
    const BatchSnapshot* state;
    const BatchStateView* state_view;  // the same arrays as `state`
    std::span<const TeamFrame> frames;
    const PredictionPlan* plan;  // null: the observations are made after the pass
    Vec2* ahead;                 // N rows of K positions
    std::size_t k;
    float* obs;                  // per frame, N rows of frame_floats / N
    std::size_t frame_floats;

    void operator()(std::size_t participant, std::size_t group_begin,
                    std::size_t group_end) const noexcept {
        const std::size_t per_pass = std::max<std::size_t>(1, WORLDS_PER_PASS / step.width);
        for (std::size_t g = group_begin; g < group_end; g += per_pass) {
            const std::size_t g_end = std::min(group_end, g + per_pass);
            step(participant, g, g_end);
            const std::size_t first = g * step.width;
            const std::size_t end = std::min(step.n_envs, g_end * step.width);
            if (restart->has_value()) {
                for (std::size_t e = first; e < end; ++e) {
                    if ((**restart)(e)) restart_match(step.worlds[e]);
                }
            }
            copy_state_rows(step.worlds, step.n_players, first, end, *state);
            if (plan == nullptr) continue;
            if (k > 0)
                predict_block(PredictionBlock{step.worlds, first, end, plan, ahead, UNIFORM,
                                              step.workspace, participant});
            for (std::size_t f = 0; f < frames.size(); ++f)
                write_team_rows(*state_view, frames[f], reinterpret_cast<const double*>(ahead), k,
                                first, end, obs + f * frame_floats);
        }
    }
};

}  // namespace

BatchStatus Batch::step_observe(StridedView<std::int64_t, 3> actions, const EnvMask& restart,
                                std::span<const TeamFrame> frames, std::vector<std::uint64_t> offsets,
                                std::int8_t* scored, const BatchSnapshot& state, float* obs,
                                bool& finished, StopCheck stop) {
    State& b = *s_;
    const std::size_t n = b.worlds.size();
    const std::size_t p = b.n_players;
    finished = false;
    if (BatchStatus refused = check_step_actions("step_observe", actions, n, p)) return refused;
    if (restart && static_cast<std::size_t>(restart->shape[0]) != n)
        return invalid("step_observe: restart mask length " + decimal(restart->shape[0]) +
                       " != n_envs " + decimal(n));
    for (const TeamFrame& frame : frames) {
        if (BatchStatus refused = check_team_frame("step_observe", frame, p)) return refused;
        if (frame.slots.size() != frames[0].slots.size())
            return invalid("step_observe: every frame must list as many slots as the first (" +
                           decimal(frames[0].slots.size()) + ")");
    }

    const std::size_t k = offsets.size();
    const BatchStateView view{
        StridedView<double, 2>::dense(state.ball_pos, {static_cast<std::ptrdiff_t>(n), 2}),
        StridedView<double, 2>::dense(state.ball_vel, {static_cast<std::ptrdiff_t>(n), 2}),
        StridedView<double, 3>::dense(state.player_pos,
                                      {static_cast<std::ptrdiff_t>(n), static_cast<std::ptrdiff_t>(p), 2}),
        StridedView<double, 3>::dense(state.player_vel,
                                      {static_cast<std::ptrdiff_t>(n), static_cast<std::ptrdiff_t>(p), 2})};
    const PredictionPlan plan = plan_prediction(offsets);
    // A prediction too long to run without looking for an interruption runs
    // on its own afterwards, in spans.
    const bool in_pass = n == 0 || plan.last_tick <= prediction_span_ticks(b.worlds[0], n);
    // Made before anything moves: the long prediction needs it too.
    std::vector<Vec2> ahead(n * k);
    const std::size_t frame_floats =
        frames.empty() ? 0 : n * team_observation_width(frames[0].slots.size(), k);

    std::fill(scored, scored + n, NO_GOAL);
    WorkerPool& pool = shared_pool();
    const std::size_t width = lane_width();
    if (n > 0) {
        WorkspaceLease workspace(b.workspace, b.worlds[0], pool.participants(), width);
        StepObserveTask task{
            StepTask{b.worlds.data(), n, &actions, scored, p, b.tick_skip, width, workspace.get()},
            &restart,   &state, &view, frames, in_pass ? &plan : nullptr, ahead.data(), k, obs,
            frame_floats};
        pool.parallel_for(group_count(n, width), task);
    }
    if (in_pass || frames.empty()) {
        finished = true;
        return std::nullopt;
    }
    // The long prediction once, then every frame's rows from it.
    if (!predict(std::move(offsets), reinterpret_cast<double*>(ahead.data()), stop))
        return std::nullopt;
    finished = true;
    for (std::size_t f = 0; f < frames.size(); ++f) {
        write_rows_on_pool(view, frames[f], reinterpret_cast<const double*>(ahead.data()), k, n,
                           obs + f * frame_floats);
    }
    return std::nullopt;
}

}  // namespace vexlo
