// The working memory of the lane-parallel tick and prediction, and the entry
// points that run them in it; included last by the per-instruction-set files,
// which define VEXLO_WORKSPACE_ENTRY besides the other entry names.

namespace vexlo::VEXLO_LANE_NS {
namespace {

// What one thread needs: everything but the walls, which all slots share.
// Made in place and never moved.
struct Slot {
    Lanes step;
    PredictLanes predict;

    Slot(const World& layout, const Walls& walls) : step(layout, walls), predict(layout, walls) {}
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
}  // namespace vexlo::VEXLO_LANE_NS

namespace vexlo {
bool VEXLO_LANE_ENTRY(const LaneRun& run) { return VEXLO_LANE_NS::step(run); }
bool VEXLO_PREDICT_ENTRY(const LanePrediction& job) { return VEXLO_LANE_NS::predict(job); }
void VEXLO_PREDICT_BLOCK_ENTRY(const PredictionBlock& block) { VEXLO_LANE_NS::predict_block(block); }
std::unique_ptr<LaneWorkspace> VEXLO_WORKSPACE_ENTRY(const World& batch_template, std::size_t slots) {
    return std::make_unique<VEXLO_LANE_NS::Workspace>(batch_template, slots);
}
}  // namespace vexlo
