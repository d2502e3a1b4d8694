#pragma once

// Comparisons of the lane-parallel prediction with the scalar one.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "physics/lane_tick.hpp"
#include "physics/predict.hpp"

namespace vexlo::test {

using LanePredictor = bool (*)(const LanePrediction&);

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
