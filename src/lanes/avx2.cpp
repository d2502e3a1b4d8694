// The lane-parallel tick, ball prediction and team observation rows with
// 256-bit registers: four environments per instruction, called only when
// the processor has AVX2.
// The lane code (the lanes/*.hpp below the target switch) is compiled here
// for AVX2, inside an unnamed namespace, so none of it is shared with the
// other instruction set's file or the scalar build. Every header that other
// files also compile (the standard library, the world records, the shared
// contact response) comes before the switch, so that their inline and
// template code is never compiled for AVX2 here; the lane headers include
// nothing that is not already included above it. FMA stays off: contraction
// would change the bits.
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <type_traits>
#include <vector>

#include "lanes/instruction_sets.hpp"
#include "lanes/lane_prediction.hpp"
#include "lanes/lane_run.hpp"
#include "lanes/team_rows.hpp"
#include "lanes/workspace.hpp"
#include "physics/clear_box.hpp"
#include "physics/contact_response.hpp"
#include "physics/predict.hpp"
#include "vexlo/flag.hpp"
#include "vexlo/world.hpp"

#pragma GCC target("avx2")

#include "lanes/vectors_avx2.hpp"
#include "lanes/team_row_lanes.hpp"
#include "lanes/workspace_slots.hpp"

namespace vexlo {

bool step_lanes_avx2(const LaneRun& run) { return lanes::step(run); }

bool predict_lanes_avx2(const LanePrediction& job) { return lanes::predict(job); }

void predict_block_avx2(const PredictionBlock& block) { lanes::predict_block(block); }

std::size_t write_team_rows_avx2(const TeamRowsJob& job) { return lanes::write_team_rows(job); }

std::unique_ptr<LaneWorkspace> make_lane_workspace_avx2(const World& batch_template,
                                                          std::size_t slots) {
    return lanes::make_workspace(batch_template, slots);
}

}  // namespace vexlo
