// Batch::step_observe: step, restart, snapshot and observe in one pass.
#include <algorithm>
#include <cstdint>
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
    const TeamFrame* frame;
    const PredictionPlan* plan;  // null: the observation is made after the pass
    Vec2* ahead;                 // N rows of K positions
    std::size_t k;
    float* obs;

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
            write_team_rows(*state_view, *frame, reinterpret_cast<const double*>(ahead), k,
                            first, end, obs);
        }
    }
};

}  // namespace

BatchStatus Batch::step_observe(StridedView<std::int64_t, 3> actions, const EnvMask& restart,
                                const TeamFrame& frame, std::vector<std::uint64_t> offsets,
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
    if (BatchStatus refused = check_team_frame("step_observe", frame, p)) return refused;

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
    std::vector<Vec2> ahead(in_pass ? n * k : 0);

    std::fill(scored, scored + n, NO_GOAL);
    WorkerPool& pool = shared_pool();
    const std::size_t width = lane_width();
    if (n > 0) {
        WorkspaceLease workspace(b.workspace, b.worlds[0], pool.participants(), width);
        StepObserveTask task{
            StepTask{b.worlds.data(), n, &actions, scored, p, b.tick_skip, width, workspace.get()},
            &restart, &state, &view, &frame, in_pass ? &plan : nullptr, ahead.data(), k, obs};
        pool.parallel_for(group_count(n, width), task);
    }
    if (in_pass) {
        finished = true;
        return std::nullopt;
    }
    return team_observation(view, frame, std::move(offsets), obs, finished, stop);
}

}  // namespace vexlo
