#include "lane_tick.hpp"

#include <span>

namespace vexlo {

void step_scalar(const LaneRun& run) {
    for (std::size_t l = 0; l < run.count; ++l) {
        World& w = *run.worlds[l];
        run.scored[l] = -1;
        for (std::uint64_t t = 0; t < run.ticks; ++t) {
            const PlayerInput* in = (t % 2 == 0) ? run.odd_ticks[l] : run.even_ticks[l];
            const auto goal = w.step(std::span(in, w.n_players));
            if (goal && run.stop_at_goal) {
                run.scored[l] = static_cast<std::int8_t>(*goal);
                break;
            }
        }
    }
}

bool has_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}

bool has_avx512() {
    static const bool yes = __builtin_cpu_supports("avx512f");
    return yes;
}

std::size_t lane_width() {
    if (has_avx512()) return 8;
    if (has_avx2()) return 4;
    return 1;
}

void step_lanes(const LaneRun& run) {
    // A lone world would leave every other lane idle: the scalar tick is faster.
    if (run.count > 1 &&
        (has_avx512() ? step_lanes_avx512(run) : has_avx2() && step_lanes_avx2(run)))
        return;
    step_scalar(run);
}

namespace {

// The scalar tick and prediction need no working memory.
class ScalarWorkspace final : public LaneWorkspace {
public:
    explicit ScalarWorkspace(std::size_t slots) : slots_(slots) {}
    std::size_t slots() const override { return slots_; }

private:
    std::size_t slots_;
};

}  // namespace

std::unique_ptr<LaneWorkspace> make_lane_workspace(const World& batch_template, std::size_t slots) {
    if (has_avx512()) return make_lane_workspace_avx512(batch_template, slots);
    if (has_avx2()) return make_lane_workspace_avx2(batch_template, slots);
    return std::make_unique<ScalarWorkspace>(slots);
}

void predict_block(const PredictionBlock& block) {
    if (has_avx512()) return predict_block_avx512(block);
    if (has_avx2()) return predict_block_avx2(block);
    const std::size_t k = block.plan->offsets.size();
    for (std::size_t i = block.begin; i < block.end; ++i)
        predict_ball(block.worlds[i], *block.plan, std::span<Vec2>(block.out + i * k, k), block.span,
                     block.carry == nullptr ? nullptr : block.carry + i);
}

}  // namespace vexlo
