#pragma once

// The lane-parallel ball prediction: predict_ball for every lane at once,
// operation for operation as the scalar one (physics/predict.cpp). Part of
// the lane code compiled once per instruction set (see lane_vectors.hpp).

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lanes/contact_kernels.hpp"
#include "lanes/disc_lanes.hpp"
#include "lanes/lane_prediction.hpp"
#include "lanes/wall_cache.hpp"
#include "physics/clear_box.hpp"
#include "physics/predict.hpp"
#include "vexlo/flag.hpp"
#include "vexlo/world.hpp"

namespace vexlo::lanes {
namespace {

// The ball's clear box cut down to keep clear of the stadium discs too, for
// discs at the positions below. A prediction holds those discs still, so the
// box holds for all its ticks.
struct DiscClearBox {
    KeyedBox walls{};         // the box it was cut from, with its key
    std::vector<Disc> discs;  // position, radius and bits of each stadium disc
    KeyedBox box{};
};

// One thread's prediction state, sized once for a batch's disc layout (see
// workspace_slots.hpp): a prediction only overwrites it, within the room set
// aside here.
struct PredictLanes {
    std::vector<DiscLanes> discs;
    WallCache walls;
    DiscClearBox clear_of_discs;
    std::vector<ClearBox> obstacles;
    // Whether discs hold the fixed properties of uniform worlds (see gather_discs).
    bool fixed_held = false;

    PredictLanes(const World& layout, const Walls& shared_walls)
        : discs(layout.first_player), walls(shared_walls) {
        const std::size_t stadium_discs = layout.first_player > 0 ? layout.first_player - 1 : 0;
        clear_of_discs.discs.reserve(stadium_discs);
        obstacles.reserve(stadium_discs);
    }

    // Whether w's worlds fit this state as it is, with nothing to resize.
    bool fit(const World& w) const { return discs.size() == w.first_player && walls.fit(w); }
};

// A span that does not start at tick 0 goes on from the ball's motion where
// the previous span left it; lanes past `count` repeat lane 0.
void resume_ball(DiscLanes& ball, const LanePrediction& job) {
    for (std::size_t l = 0; l < W; ++l) {
        const BallMotion& m = *job.carry[l < job.count ? l : 0];
        ball.px[l] = m.pos.x; ball.py[l] = m.pos.y; ball.vx[l] = m.vel.x; ball.vy[l] = m.vel.y;
    }
}

void suspend_ball(const DiscLanes& ball, const LanePrediction& job) {
    for (std::size_t l = 0; l < job.count; ++l)
        *job.carry[l] = BallMotion{Vec2{ball.px[l], ball.py[l]}, Vec2{ball.vx[l], ball.vy[l]}};
}

bool share_stadium(const LanePrediction& job) {
    const World& a = *job.worlds[0];
    if (a.first_player == 0 || a.first_player > a.discs.size()) return false;
    for (std::size_t l = 1; l < job.count; ++l) {
        const World& b = *job.worlds[l];
        if (b.discs.size() != a.discs.size() || b.first_player != a.first_player) return false;
        if (!job.uniform && (!same_bytes(a.planes, b.planes) || !same_bytes(a.segments, b.segments)))
            return false;
    }
    return true;
}

// The ball's share of one tick in every lane: the stadium discs are read,
// never written, and a lane whose ball is immovable meets nothing. Nothing
// in a prediction changes the ball's radius or collision bits, so its clear
// box is found once.
void ball_only_tick(PredictLanes& s, DiscLanes& ball, std::size_t first_player,
                    const KeyedBox& clear, const KeyedBox* clear_of_all) {
    integrate(ball, ball.damping);
    const i64v movable = ball.inv_mass != 0.0;
    if (!any(movable)) return;
    if (clear_of_all != nullptr && inside(ball, *clear_of_all)) return;
    for (std::size_t j = 1; j < first_player; ++j) disc_disc<false>(ball, s.discs[j], movable);
    if (inside(ball, clear)) return;
    for (const PlaneConst& pc : s.walls.plane_consts) disc_plane(ball, movable, pc);
    for (const SegmentConst& sc : s.walls.segment_consts) disc_segment(ball, movable, sc);
}

bool same_key(const KeyedBox& a, const KeyedBox& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The ball's box clear of walls and stadium discs for this group, or null
// when the lanes' stadium discs are not all where lane 0's are.
const KeyedBox* clear_of_discs(PredictLanes& s, const KeyedBox& walls,
                                         std::size_t first_player) {
    if (walls.box.empty()) return nullptr;
    DiscClearBox& held = s.clear_of_discs;
    bool same_as_held = same_key(held.walls, walls) && held.discs.size() == first_player - 1;
    for (std::size_t j = 1; j < first_player; ++j) {
        const DiscLanes& D = s.discs[j];
        const i64v agree = (D.px == D.px[0]) & (D.py == D.py[0]) & (D.radius == D.radius[0]) &
                           (D.group == D.group[0]) & (D.mask == D.mask[0]);
        if (!all(agree)) return nullptr;
        if (!same_as_held) continue;
        const Disc& h = held.discs[j - 1];
        same_as_held = h.pos.x == D.px[0] && h.pos.y == D.py[0] && h.radius == D.radius[0] &&
                       h.c_group == D.group[0] && h.c_mask == D.mask[0];
    }
    if (same_as_held) return held.box.box.empty() ? nullptr : &held.box;
    held.walls = walls;
    held.discs.clear();
    s.obstacles.clear();
    bool trusted = true;
    for (std::size_t j = 1; j < first_player; ++j) {
        const DiscLanes& D = s.discs[j];
        Disc d;
        d.pos = {D.px[0], D.py[0]};
        d.radius = D.radius[0];
        d.c_group = D.group[0];
        d.c_mask = D.mask[0];
        held.discs.push_back(d);
        if (!flag::collides(walls.group, walls.mask, d.c_group, d.c_mask)) continue;
        // A contact needs |d|^2 <= (sum of the radii)^2: the centres within
        // the sum's magnitude, whatever its sign. A square that overflows
        // lets discs touch from anywhere, and bounds that do not hold a
        // number keep nothing out: then the box is not used at all.
        const double reach = std::abs(walls.radius + d.radius);
        const double scale = std::max({std::abs(d.pos.x), std::abs(d.pos.y), reach});
        const double r = reach + clear_margin(scale);
        const ClearBox around{d.pos.x - r, d.pos.y - r, d.pos.x + r, d.pos.y + r};
        trusted = trusted && std::isfinite(reach * reach) && std::isfinite(around.x0) &&
                  std::isfinite(around.y0) && std::isfinite(around.x1) && std::isfinite(around.y1);
        s.obstacles.push_back(around);
    }
    held.box = walls;
    held.box.box = trusted ? carve_clear_of(walls.box, s.obstacles) : ClearBox{};
    return held.box.box.empty() ? nullptr : &held.box;
}

// One group of lanes, for the ticks of job.span, in `s`, which belongs to
// the calling thread alone.
bool predict_group(PredictLanes& s, const LanePrediction& job) {
    if (job.count == 0 || job.count > W || !share_stadium(job) || !s.fit(*job.worlds[0])) return false;
    const World& w0 = *job.worlds[0];
    // The ball and the stadium discs; players play no part.
    gather_discs(s.discs, job.worlds, job.count, job.uniform, w0.first_player, s.fixed_held);
    const PredictionPlan& plan = *job.plan;
    const std::uint64_t after = job.span.after, until = std::min(job.span.until, plan.last_tick);
    DiscLanes& ball = s.discs[0];
    if (after > 0) resume_ball(ball, job);
    const KeyedBox& clear = s.walls.box_for(ball);
    const KeyedBox* clear_of_all = clear_of_discs(s, clear, w0.first_player);
    std::size_t next = first_answer_at(plan, after);
    const std::size_t answers = plan.order.size();
    auto fill_due = [&](std::uint64_t tick) {
        while (next < answers && plan.offsets[plan.order[next]] == tick) {
            const std::size_t k = plan.order[next];
            for (std::size_t l = 0; l < job.count; ++l) job.out[l][k] = Vec2{ball.px[l], ball.py[l]};
            ++next;
        }
    };
    fill_due(after);
    for (std::uint64_t tick = after + 1; tick <= until && next < answers; ++tick) {
        ball_only_tick(s, ball, w0.first_player, clear, clear_of_all);
        fill_due(tick);
    }
    if (until < plan.last_tick) suspend_ball(ball, job);
    return true;
}

}  // namespace
}  // namespace vexlo::lanes
