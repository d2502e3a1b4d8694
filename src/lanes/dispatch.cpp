// Which instruction set runs the lane code: the widest the processor has,
// unless force_lane_width chose another.
#include <atomic>
#include <cstddef>
#include <memory>

#include "lanes/instruction_sets.hpp"
#include "lanes/lane_prediction.hpp"
#include "lanes/lane_run.hpp"
#include "lanes/team_rows.hpp"
#include "lanes/workspace.hpp"

namespace vexlo {
namespace {

// 0: the widest the processor has.
std::atomic<std::size_t> g_forced_width{0};

std::size_t widest() {
    if (has_avx512()) return 8;
    if (has_avx2()) return 4;
    return 1;
}

}  // namespace

bool has_avx2() {
    static const bool yes = __builtin_cpu_supports("avx2");
    return yes;
}

bool has_avx512() {
    static const bool yes = __builtin_cpu_supports("avx512f");
    return yes;
}

std::size_t lane_width() {
    const std::size_t forced = g_forced_width.load(std::memory_order_relaxed);
    return forced != 0 ? forced : widest();
}

bool force_lane_width(std::size_t width) {
    const bool runs = width == 0 || width == 1 || (width == 4 && has_avx2()) ||
                      (width == 8 && has_avx512());
    if (runs) g_forced_width.store(width, std::memory_order_relaxed);
    return runs;
}

void step_lanes(const LaneRun& run) {
    // A caller's workspace fixes the width: its groups were cut for it.
    const std::size_t width = run.workspace != nullptr ? run.workspace->width() : lane_width();
    // A lone world would leave every other lane idle: the scalar tick is faster.
    if (run.count > 1 && ((width == 8 && step_lanes_avx512(run)) ||
                          (width == 4 && step_lanes_avx2(run))))
        return;
    step_scalar(run);
}

std::unique_ptr<LaneWorkspace> make_lane_workspace(const World& batch_template, std::size_t slots,
                                                   std::size_t width) {
    if (width == 8 && has_avx512()) return make_lane_workspace_avx512(batch_template, slots);
    if (width == 4 && has_avx2()) return make_lane_workspace_avx2(batch_template, slots);
    return make_lane_workspace_scalar(batch_template, slots);
}

void predict_block(const PredictionBlock& block) {
    const std::size_t width = block.workspace != nullptr ? block.workspace->width() : lane_width();
    if (width == 8) return predict_block_avx512(block);
    if (width == 4) return predict_block_avx2(block);
    predict_block_scalar(block);
}

std::size_t write_team_rows_in_lanes(const TeamRowsJob& job) {
    const std::size_t width = lane_width();
    if (width == 8) return write_team_rows_avx512(job);
    if (width == 4) return write_team_rows_avx2(job);
    return job.begin;
}

}  // namespace vexlo
