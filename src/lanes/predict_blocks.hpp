#pragma once

// Prediction for a block of consecutive worlds of one array, in groups of W,
// with the memory of the groups ahead asked for early. Part of the lane code
// compiled once per instruction set (see lane_vectors.hpp).

#include <algorithm>
#include <array>
#include <cstddef>
#include <span>

#include "lanes/lane_prediction.hpp"
#include "lanes/predict_lanes.hpp"
#include "physics/predict.hpp"
#include "vexlo/world.hpp"

namespace vexlo::lanes {
namespace {

// Each group alone is too short to hide the latency of its loads, so the
// memory is asked early: for the ball and stadium discs PREFETCH_GROUPS
// groups ahead, and for the world records (which say where those discs are)
// twice as far.
constexpr std::size_t PREFETCH_GROUPS = 4;

void prefetch_records(const World* worlds, std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
        __builtin_prefetch(&worlds[i].discs);
        __builtin_prefetch(&worlds[i].first_player);
    }
}

void prefetch_stadium_discs(const World* worlds, std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
        const World& w = worlds[i];
        const char* p = reinterpret_cast<const char*>(w.discs.data());
        const std::size_t bytes = std::min(w.first_player, w.discs.size()) * sizeof(Disc);
        for (std::size_t at = 0; at < bytes; at += 64) __builtin_prefetch(p + at);
    }
}

// The worlds [b.begin, b.end) in groups of W, in `s`, which belongs to the
// calling thread alone and fits the block's worlds (every group, when they
// are not uniform).
void predict_block_in(PredictLanes& s, const PredictionBlock& b) {
    const std::size_t k = b.plan->offsets.size();
    std::array<const World*, W> group{};
    std::array<Vec2*, W> rows{};
    std::array<BallMotion*, W> carry{};
    const std::size_t ahead = PREFETCH_GROUPS * W;
    prefetch_stadium_discs(b.worlds, b.begin, std::min(b.end, b.begin + ahead));
    prefetch_records(b.worlds, std::min(b.end, b.begin + ahead), std::min(b.end, b.begin + 2 * ahead));
    for (std::size_t first = b.begin; first < b.end; first += W) {
        const std::size_t count = std::min(W, b.end - first);
        const std::size_t near = std::min(b.end, first + ahead), far = std::min(b.end, first + 2 * ahead);
        prefetch_stadium_discs(b.worlds, near, std::min(b.end, near + W));
        prefetch_records(b.worlds, far, std::min(b.end, far + W));
        for (std::size_t l = 0; l < count; ++l) {
            group[l] = &b.worlds[first + l];
            rows[l] = b.out + (first + l) * k;
            carry[l] = b.carry == nullptr ? nullptr : b.carry + first + l;
        }
        const LanePrediction job{group.data(), count, b.plan, rows.data(), b.uniform,
                                 b.span, carry.data()};
        // A lone world would leave every other lane idle.
        if (count > 1 && predict_group(s, job)) continue;
        for (std::size_t l = 0; l < count; ++l)
            predict_ball(*group[l], *b.plan, std::span<Vec2>(rows[l], k), b.span, carry[l]);
    }
}

}  // namespace
}  // namespace vexlo::lanes
