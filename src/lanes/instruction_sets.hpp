#pragma once

#include <cstddef>
#include <memory>

#include "lanes/lane_prediction.hpp"
#include "lanes/lane_run.hpp"
#include "lanes/team_rows.hpp"
#include "lanes/workspace.hpp"

// The lane code once per instruction set, and which of them this processor
// runs. step_lanes, predict_block, write_team_rows_in_lanes and
// make_lane_workspace pick among them; tests call them directly to compare
// each width bit for bit with the scalar code.
namespace vexlo {

bool has_avx2();
bool has_avx512();

// How many worlds step_lanes takes at once on this processor: 8 with
// AVX-512, 4 with AVX2, else 1 (the scalar tick); or the width that
// force_lane_width chose.
std::size_t lane_width();

// For benchmarks and tests only: makes lane_width() `width` from the next
// call on (0 restores the widest). False, changing nothing, for a width this
// processor cannot run (1, 4 with AVX2, 8 with AVX-512). A call already
// running keeps the width its workspace was made for.
bool force_lane_width(std::size_t width);

// AVX2, up to 4 worlds per group (avx2.cpp), and AVX-512, up to 8 (avx512.cpp).
// Call them only on processors that have the instructions. The step and the
// prediction return false (and do nothing) when the worlds do not share a
// layout.
bool step_lanes_avx2(const LaneRun& run);
bool predict_lanes_avx2(const LanePrediction& job);
void predict_block_avx2(const PredictionBlock& block);
std::size_t write_team_rows_avx2(const TeamRowsJob& job);
std::unique_ptr<LaneWorkspace> make_lane_workspace_avx2(const World& batch_template, std::size_t slots);

bool step_lanes_avx512(const LaneRun& run);
bool predict_lanes_avx512(const LanePrediction& job);
void predict_block_avx512(const PredictionBlock& block);
std::size_t write_team_rows_avx512(const TeamRowsJob& job);
std::unique_ptr<LaneWorkspace> make_lane_workspace_avx512(const World& batch_template,
                                                          std::size_t slots);

// Without vector instructions (scalar.cpp): the scalar tick and prediction,
// world by world, which need no working memory beyond the slot count.
void predict_block_scalar(const PredictionBlock& block);
std::unique_ptr<LaneWorkspace> make_lane_workspace_scalar(const World& batch_template,
                                                          std::size_t slots);

}  // namespace vexlo
