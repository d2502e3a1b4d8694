// Batch::predict: where every environment's ball will be after given numbers
// of ticks if no player touches it.
#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

#include "batch/prediction_spans.hpp"
#include "batch/state.hpp"
#include "batch/worker_pool.hpp"
#include "lanes/lanes.hpp"
#include "physics/predict.hpp"

namespace vexlo {
namespace {

// Each environment writes its K positions straight into its row of the
// result, viewed as K Vec2 values: two doubles each, nothing in between.
static_assert(sizeof(Vec2) == 2 * sizeof(double) && alignof(Vec2) == alignof(double));
static_assert(std::is_standard_layout_v<Vec2> && std::is_trivially_copyable_v<Vec2>);

// Environments go to the engine in blocks of whole lane groups.
struct PredictTask {
    const World* worlds;
    std::size_t n_envs;
    const PredictionPlan* plan;
    Vec2* out;  // N rows of K positions
    std::size_t width;
    LaneWorkspace* workspace;
    TickSpan span;
    BallMotion* carry;  // N entries, when span is not the whole run

    void operator()(std::size_t participant, std::size_t group_begin,
                    std::size_t group_end) const noexcept {
        // The environments of a batch are copies of one template.
        predict_block(PredictionBlock{worlds, group_begin * width,
                                      std::min(n_envs, group_end * width), plan, out, true,
                                      workspace, participant, span, carry});
    }
};

// A prediction asks whether to stop after about this many ball ticks in
// all, a tick among w planes, segments and discs counting as 1 + w / 64: a
// small fraction of a second, and rare enough to cost nothing measurable.
constexpr std::uint64_t TICKS_BETWEEN_STOP_CHECKS = std::uint64_t{1} << 22;

}  // namespace

std::uint64_t prediction_span_ticks(const World& w, std::size_t n) {
    const std::uint64_t walls = w.planes.size() + w.segments.size() + w.first_player;
    return std::max<std::uint64_t>(1, TICKS_BETWEEN_STOP_CHECKS / n / (1 + walls / 64));
}

bool Batch::predict(std::vector<std::uint64_t> offsets, double* out, StopCheck stop) const {
    State& b = *s_;
    const std::size_t n = b.worlds.size();
    if (offsets.empty() || n == 0) return true;
    const PredictionPlan plan = plan_prediction(std::move(offsets));
    Vec2* rows = reinterpret_cast<Vec2*>(out);
    WorkerPool& pool = shared_pool();
    const std::size_t width = lane_width();
    WorkspaceLease workspace(b.workspace, b.worlds[0], pool.participants(), width);
    // A long prediction runs in spans of ticks, the ball's motion carried
    // from one to the next; nothing outside the result changes, so it may
    // stop after any of them.
    const std::uint64_t span_ticks = prediction_span_ticks(b.worlds[0], n);
    std::vector<BallMotion> carry;
    if (plan.last_tick > span_ticks) carry.resize(n);
    for (std::uint64_t after = 0;;) {
        const std::uint64_t until =
            plan.last_tick - after > span_ticks ? after + span_ticks : plan.last_tick;
        PredictTask task{b.worlds.data(), n, &plan, rows, width, workspace.get(),
                         TickSpan{after, until}, carry.data()};
        pool.parallel_for(group_count(n, width), task);
        if (until == plan.last_tick) return true;
        if (stop()) return false;
        after = until;
    }
}

}  // namespace vexlo
