#pragma once

// The lane workspace of one instruction set, and the entry points that run
// the tick and the prediction in one of its slots (or in working memory of
// their own). avx2.cpp and avx512.cpp name these in their entry points. Part
// of the lane code compiled once per instruction set (see lane_vectors.hpp).

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

#include "lanes/lane_prediction.hpp"
#include "lanes/lane_run.hpp"
#include "lanes/predict_blocks.hpp"
#include "lanes/predict_lanes.hpp"
#include "lanes/tick.hpp"
#include "lanes/tick_state.hpp"
#include "lanes/wall_cache.hpp"
#include "lanes/workspace.hpp"

namespace vexlo::lanes {
namespace {

// What one thread needs: everything but the walls, which all slots share.
// Made in place and never moved.
struct Slot {
    TickLanes step;
    PredictLanes predict;
    ClearBoxCache scalar_boxes;  // for a lone world, which the scalar tick steps

    Slot(const World& layout, const Walls& walls)
        : step(layout, walls), predict(layout, walls), scalar_boxes(walls.planes, walls.segments) {}
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
};

class Workspace final : public LaneWorkspace {
public:
    Workspace(const World& batch_template, std::size_t n_slots) : walls_(batch_template) {
        slots_.reserve(n_slots);
        for (std::size_t i = 0; i < n_slots; ++i)
            slots_.push_back(std::make_unique<Slot>(batch_template, walls_));
    }

    std::size_t slots() const override { return slots_.size(); }
    std::size_t width() const override { return W; }
    ClearBoxCache& scalar_boxes(std::size_t i) override { return slots_[i]->scalar_boxes; }
    Slot& slot(std::size_t i) { return *slots_[i]; }

private:
    Walls walls_;  // the slots' views point into it
    std::vector<std::unique_ptr<Slot>> slots_;  // apart, so that threads share no cache lines
};

// A workspace handed in was made by make_lane_workspace, which picks the same
// instruction set as the dispatch that led here.
Slot& slot_of(LaneWorkspace* workspace, std::size_t slot) {
    return static_cast<Workspace*>(workspace)->slot(slot);
}

std::unique_ptr<LaneWorkspace> make_workspace(const World& batch_template, std::size_t slots) {
    return std::make_unique<Workspace>(batch_template, slots);
}

bool step(const LaneRun& run) {
    if (run.workspace != nullptr && run.uniform)
        return step_group(slot_of(run.workspace, run.slot).step, run);
    if (run.count == 0) return false;
    Workspace local(*run.worlds[0], 1);
    return step_group(local.slot(0).step, run);
}

bool predict(const LanePrediction& job) {
    if (job.count == 0) return false;
    Workspace local(*job.worlds[0], 1);
    return predict_group(local.slot(0).predict, job);
}

void predict_block(const PredictionBlock& b) {
    if (b.begin >= b.end) return;
    if (b.workspace != nullptr && b.uniform)
        return predict_block_in(slot_of(b.workspace, b.slot).predict, b);
    if (b.uniform) {
        Workspace local(b.worlds[b.begin], 1);
        return predict_block_in(local.slot(0).predict, b);
    }
    // Worlds that may differ: each group with working memory for its own walls.
    for (std::size_t first = b.begin; first < b.end; first += W) {
        PredictionBlock group = b;
        group.begin = first;
        group.end = std::min(b.end, first + W);
        Workspace local(b.worlds[first], 1);
        predict_block_in(local.slot(0).predict, group);
    }
}

}  // namespace
}  // namespace vexlo::lanes
