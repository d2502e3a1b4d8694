// Which instruction set runs the lane code: the widest the processor has.
#include <cstddef>
#include <memory>

#include "lanes/instruction_sets.hpp"
#include "lanes/lane_prediction.hpp"
#include "lanes/lane_run.hpp"
#include "lanes/workspace.hpp"

namespace vexlo {

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

std::unique_ptr<LaneWorkspace> make_lane_workspace(const World& batch_template, std::size_t slots) {
    if (has_avx512()) return make_lane_workspace_avx512(batch_template, slots);
    if (has_avx2()) return make_lane_workspace_avx2(batch_template, slots);
    return make_lane_workspace_scalar(slots);
}

void predict_block(const PredictionBlock& block) {
    if (has_avx512()) return predict_block_avx512(block);
    if (has_avx2()) return predict_block_avx2(block);
    predict_block_scalar(block);
}

}  // namespace vexlo
