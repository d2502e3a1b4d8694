#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

#include "lanes/lanes.hpp"

namespace vexlo {

// A batch's working memory for the lane-parallel ticks and predictions (see
// LaneWorkspace): made by the first call that needs it, kept for the next
// calls, and freed with the batch. One call at a time uses it.
class BatchWorkspace {
public:
    BatchWorkspace() = default;
    // Batches move only while they are being built, before any call.
    BatchWorkspace(BatchWorkspace&& other) noexcept : held_(std::move(other.held_)) {}
    BatchWorkspace& operator=(BatchWorkspace&&) = delete;

private:
    friend class WorkspaceLease;
    std::unique_ptr<LaneWorkspace> held_;
    std::atomic<bool> lent_{false};
};

// The working memory of one call, with a slot for every participant of the
// pool, for lane groups of `width`, taken on the calling thread before the
// work is spread out: the batch's own or, while another call on the batch
// has that (two predictions at once, say), one made for this call alone.
// Throws std::bad_alloc.
class WorkspaceLease {
public:
    WorkspaceLease(BatchWorkspace& owner, const World& batch_template, std::size_t slots,
                   std::size_t width)
        : lent_(owner.lent_.exchange(true, std::memory_order_acquire) ? nullptr : &owner.lent_) {
        if (!lent_) {
            own_ = make_lane_workspace(batch_template, slots, width);
            workspace_ = own_.get();
            return;
        }
        if (!owner.held_ || owner.held_->slots() < slots || owner.held_->width() != width) {
            owner.held_.reset();  // freed before its replacement is made
            owner.held_ = make_lane_workspace(batch_template, slots, width);
        }
        workspace_ = owner.held_.get();
    }
    WorkspaceLease(const WorkspaceLease&) = delete;
    WorkspaceLease& operator=(const WorkspaceLease&) = delete;

    LaneWorkspace* get() const { return workspace_; }

private:
    struct GiveBack {
        void operator()(std::atomic<bool>* lent) const { lent->store(false, std::memory_order_release); }
    };
    // First, so that it gives the batch's workspace back even when the
    // constructor throws.
    std::unique_ptr<std::atomic<bool>, GiveBack> lent_;
    std::unique_ptr<LaneWorkspace> own_;
    LaneWorkspace* workspace_ = nullptr;
};

}  // namespace vexlo
