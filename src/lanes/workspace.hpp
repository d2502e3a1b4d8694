#pragma once

#include <cstddef>
#include <memory>

#include "physics/clear_box.hpp"
#include "vexlo/world.hpp"

namespace vexlo {

// Working memory of the lane-parallel ticks and predictions for a batch of
// worlds that are copies of one template: the wall constants of their shared
// stadium, made once and then only read by every thread, and one slot of lane
// state per thread taking part in a parallel call. It is made on the calling
// thread, where running out of memory can still be reported, and the ticks
// only ever write into it: they allocate nothing. It points into the
// template's arrays, which must outlive it unchanged.
class LaneWorkspace {
public:
    virtual ~LaneWorkspace() = default;
    virtual std::size_t slots() const = 0;
    // The lane width it serves (1 for the scalar tick): step_lanes and
    // predict_block run that width's code for a run that hands it in.
    virtual std::size_t width() const = 0;
    // The clear boxes that a lone world's scalar tick uses in `slot`.
    virtual ClearBoxCache& scalar_boxes(std::size_t slot) = 0;
};

// For worlds that are copies of `batch_template`, with `slots` slots (at
// least 1), for the lane width `width` (as lane_width() gives it). Throws
// std::bad_alloc.
std::unique_ptr<LaneWorkspace> make_lane_workspace(const World& batch_template, std::size_t slots,
                                                   std::size_t width);

}  // namespace vexlo
