// The lane entry points without vector instructions: the scalar tick and
// prediction, one world after the other.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "lanes/instruction_sets.hpp"
#include "lanes/lane_prediction.hpp"
#include "lanes/lane_run.hpp"
#include "lanes/workspace.hpp"
#include "physics/predict.hpp"
#include "physics/step_world.hpp"

namespace vexlo {

void step_scalar(const LaneRun& run) {
    // The workspace's clear boxes serve the uniform worlds of its batch only.
    ClearBoxCache* boxes =
        run.workspace != nullptr && run.uniform ? &run.workspace->scalar_boxes(run.slot) : nullptr;
    for (std::size_t l = 0; l < run.count; ++l) {
        World& w = *run.worlds[l];
        run.scored[l] = -1;
        for (std::uint64_t t = 0; t < run.ticks; ++t) {
            const PlayerInput* in = (t % 2 == 0) ? run.first_inputs[l] : run.second_inputs[l];
            const auto goal = step_world(w, std::span(in, w.n_players), boxes);
            if (goal && run.stop_at_goal) {
                run.scored[l] = static_cast<std::int8_t>(*goal);
                break;
            }
        }
    }
}

void predict_block_scalar(const PredictionBlock& block) {
    const std::size_t k = block.plan->offsets.size();
    for (std::size_t i = block.begin; i < block.end; ++i)
        predict_ball(block.worlds[i], *block.plan, std::span<Vec2>(block.out + i * k, k), block.span,
                     block.carry == nullptr ? nullptr : block.carry + i);
}

namespace {

// The scalar tick needs only the clear boxes of the batch's walls.
class ScalarWorkspace final : public LaneWorkspace {
public:
    ScalarWorkspace(const World& batch_template, std::size_t slots)
        : boxes_(slots, ClearBoxCache(batch_template.planes, batch_template.segments)) {}
    std::size_t slots() const override { return boxes_.size(); }
    std::size_t width() const override { return 1; }
    ClearBoxCache& scalar_boxes(std::size_t slot) override { return boxes_[slot]; }

private:
    std::vector<ClearBoxCache> boxes_;
};

}  // namespace

std::unique_ptr<LaneWorkspace> make_lane_workspace_scalar(const World& batch_template,
                                                          std::size_t slots) {
    return std::make_unique<ScalarWorkspace>(batch_template, slots);
}

}  // namespace vexlo
