#pragma once

// The lane widths to test, and comparisons of the lane-parallel prediction
// with the scalar one.

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "lanes/instruction_sets.hpp"
#include "physics/predict.hpp"

namespace vexlo::test {

using LaneStepper = bool (*)(const LaneRun&);
using LanePredictor = bool (*)(const LanePrediction&);
using TeamRowsWriter = std::size_t (*)(const TeamRowsJob&);

// One lane width's entry points.
struct LaneWidth {
    const char* isa;
    std::size_t width;
    bool present;  // whether this processor has the instructions
    LaneStepper step;
    LanePredictor predict;
    TeamRowsWriter team_rows;
};

inline std::vector<LaneWidth> all_lane_widths() {
    return {{"AVX2", 4, has_avx2(), step_lanes_avx2, predict_lanes_avx2, write_team_rows_avx2},
            {"AVX-512", 8, has_avx512(), step_lanes_avx512, predict_lanes_avx512,
             write_team_rows_avx512}};
}

// The widths this processor can run.
inline std::vector<LaneWidth> lane_widths() {
    std::vector<LaneWidth> present;
    for (const LaneWidth& w : all_lane_widths())
        if (w.present) present.push_back(w);
    return present;
}

// Why a test over lane_widths() covered less than every width, if it did: a
// test ends with `if (const auto why = untested_widths()) GTEST_SKIP() << *why;`
// so that a processor without a width reports a skip rather than a pass.
inline std::optional<std::string> untested_widths() {
    std::string why;
    for (const LaneWidth& w : all_lane_widths()) {
        if (w.present) continue;
        if (!why.empty()) why += "; ";
        why += std::string("this processor has no ") + w.isa + ": the " + std::to_string(w.width) +
               "-lane path was not tested";
    }
    if (why.empty()) return std::nullopt;
    return why;
}

// Predicts `worlds` as one lane group and each world alone through the
// scalar prediction: success when every answer has the same bits.
inline ::testing::AssertionResult predicts_like_scalar(LanePredictor predictor,
                                                       const std::vector<World>& worlds,
                                                       const PredictionPlan& plan, bool uniform) {
    const std::size_t k = plan.offsets.size();
    std::vector<std::vector<Vec2>> got(worlds.size(), std::vector<Vec2>(k));
    std::vector<const World*> from;
    std::vector<Vec2*> rows;
    for (std::size_t l = 0; l < worlds.size(); ++l) {
        from.push_back(&worlds[l]);
        rows.push_back(got[l].data());
    }
    if (!predictor(LanePrediction{from.data(), worlds.size(), &plan, rows.data(), uniform}))
        return ::testing::AssertionFailure() << "the lanes refused the group";
    for (std::size_t l = 0; l < worlds.size(); ++l) {
        std::vector<Vec2> want(k);
        predict_ball(worlds[l], plan, want);
        if (std::memcmp(want.data(), got[l].data(), k * sizeof(Vec2)) != 0)
            return ::testing::AssertionFailure()
                   << "world " << l << " of " << worlds.size() << ", ball at " << worlds[l].ball().pos.x
                   << ", " << worlds[l].ball().pos.y;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace vexlo::test
