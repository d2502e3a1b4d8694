#pragma once

// The lane-parallel tick: World::step for every lane at once, with the same
// bits. Every lane performs the scalar tick's operations (physics/tick.cpp)
// in the scalar tick's order; a conditional update becomes a per-lane select.
// Part of the lane code compiled once per instruction set (see
// lane_vectors.hpp).

#include <cstddef>
#include <cstdint>

#include "lanes/contact_kernels.hpp"
#include "lanes/goal_lanes.hpp"
#include "lanes/lane_run.hpp"
#include "lanes/tick_state.hpp"
#include "vexlo/world.hpp"

namespace vexlo::lanes {
namespace {

// Stage 1 for one player: arming, rate limit, kick, movement, with the
// first or the second set of inputs.
void player_inputs(TickLanes& s, std::size_t first_player, std::size_t p, bool first_set) {
    PlayerLanes& P = s.players[p];
    const std::size_t kicker = first_player + p;
    const i64v kick = first_set ? P.kick_first : P.kick_second;
    const i64v arm = (kick == 2) | ~P.held;
    P.kicking = sel(kick <= 0, splat(std::int64_t{0}), sel(arm, splat(std::int64_t{-1}), P.kicking));
    P.held = kick > 0;
    P.cooldown = sel(P.cooldown > 0, wrapping_add(P.cooldown, -1), P.cooldown);
    P.credit = sel(P.credit < s.rate_cap, wrapping_add(P.credit, 1), P.credit);
    const i64v may = P.kicking & (P.cooldown < 1) & (P.credit >= 0);
    if (any(may)) {
        // Only other discs change in this loop: the kicker's fields stay as
        // they were at its start, while its velocity gathers the kickbacks.
        const DiscLanes& K = s.discs[kicker];
        f64v kvx = K.vx, kvy = K.vy;
        i64v delivered = splat(std::int64_t{0});
        for (std::uint32_t j : s.kickable_discs()) {
            if (j == kicker) continue;
            DiscLanes& D = s.discs[j];
            const i64v candidate = may & ((D.group & flag::FLAG_KICK) != 0);
            if (!any(candidate)) continue;
            const f64v dx = D.px - K.px, dy = D.py - K.py;
            const f64v sq = dx * dx + dy * dy;
            const f64v dist = vsqrt(sq);
            const i64v reach = candidate & (sq > 0.0) & (((dist - D.radius) - K.radius) < KICK_RANGE);
            if (!any(reach)) continue;
            const f64v nx = dx / dist, ny = dy / dist;
            D.vx = sel(reach, D.inv_mass * (K.kick_strength * nx) + D.vx, D.vx);
            D.vy = sel(reach, D.inv_mass * (K.kick_strength * ny) + D.vy, D.vy);
            kvx = sel(reach, K.inv_mass * (nx * (-K.kickback)) + kvx, kvx);
            kvy = sel(reach, K.inv_mass * (ny * (-K.kickback)) + kvy, kvy);
            delivered |= reach;
        }
        s.discs[kicker].vx = kvx;
        s.discs[kicker].vy = kvy;
        P.kicking = sel(delivered, splat(std::int64_t{0}), P.kicking);
        P.cooldown = sel(delivered, s.rate_min, P.cooldown);
        P.credit = sel(delivered, wrapping_sub(P.credit, s.rate_cost), P.credit);
    }
    DiscLanes& K = s.discs[kicker];
    const f64v accel = sel(P.kicking, K.kick_accel, K.accel);
    K.vx = K.vx + (first_set ? P.dir_x_first : P.dir_x_second) * accel;
    K.vy = K.vy + (first_set ? P.dir_y_first : P.dir_y_second) * accel;
}

// The walls of k's key from the combined index `from` on (planes first,
// then segments), in stadium order.
void walls_from(DiscLanes& a, i64v movable, const WallCache& walls, const KeyedBox& k,
                std::size_t from) {
    const std::size_t n_planes = walls.plane_consts.size();
    for (std::uint32_t w : walls.planes_of(k)) {
        if (w >= from) disc_plane(a, movable, walls.plane_consts[w]);
    }
    for (std::uint32_t w : walls.segments_of(k)) {
        if (n_planes + w >= from) disc_segment(a, movable, walls.segment_consts[w]);
    }
}

// The collision pass, as the scalar collide.
void collide(TickLanes& s) {
    const std::size_t n = s.discs.size();
    for (std::size_t i = 0; i < n; ++i) {
        DiscLanes& a = s.discs[i];
        for (std::uint32_t j : s.partners_of(i)) disc_disc(a, s.discs[j], splat(std::int64_t{-1}));
        const i64v movable = a.inv_mass != 0.0;
        if (!any(movable)) continue;
        WallCache& walls = s.walls;
        const KeyedBox& k = walls.box_for(a, s.box_hint[i]);
        if (!has_key(a, k)) {
            for (const PlaneConst& pc : walls.plane_consts) disc_plane(a, movable, pc);
            for (const SegmentConst& sc : walls.segment_consts) disc_segment(a, movable, sc);
            continue;
        }
        // Every lane has the key: the walls whose bits do not meet it would
        // be skipped in every lane by their own test.
        if (inside(a, k)) continue;
        const std::size_t cell = walls.grid->on ? walls.shared_cell(a) : WallGrid::CELLS;
        if (cell == WallGrid::CELLS) {
            walls_from(a, movable, walls, k, 0);
            continue;
        }
        // So would those that cannot reach the cell, as long as every lane's
        // disc stays in it: a contact that pushes one out leaves the walls
        // after it to be tested in full.
        const std::size_t n_planes = walls.plane_consts.size();
        for (std::uint64_t near = walls.near(k, cell); near != 0; near &= near - 1) {
            const std::size_t w = static_cast<std::size_t>(std::countr_zero(near));
            if (w < n_planes) {
                disc_plane(a, movable, walls.plane_consts[w]);
            } else {
                disc_segment(a, movable, walls.segment_consts[w - n_planes]);
            }
            if (!walls.in_cell(a, cell)) {
                walls_from(a, movable, walls, k, w + 1);
                break;
            }
        }
    }
}

// Most ticks change nothing of the match but its step count and the
// players' masks: every live lane is in play or waiting for the kickoff
// touch, no ball crosses a goal line, no kickoff ball moves. Such ticks
// leave the worlds alone and only count; the others go lane by lane through
// advance_match.
struct SteadyMatch {
    bool steady = false;  // every live lane is in Kickoff or Playing
    i64v live;            // lanes of worlds still stepping
    i64v kickoff;         // live lanes in Kickoff
    i64v player_mask;     // the mask advance_match would give each lane's players
    std::uint64_t pending = 0;  // ticks counted but not yet added to the worlds' steps
};

// Lanes that no longer step take the mask of the first live lane, so that
// their discs do not keep the group from sharing one clear box.
void read_phases(SteadyMatch& m, const LaneRun& run, const bool (&done)[W]) {
    m.steady = true;
    std::size_t first_live = W;
    for (std::size_t l = 0; l < W; ++l) {
        const bool live = l < run.count && !done[l];
        m.live[l] = live ? -1 : 0;
        m.kickoff[l] = 0;
        m.player_mask[l] = PLAYER_CMASK;
        if (!live) continue;
        if (first_live == W) first_live = l;
        const World& w = *run.worlds[l];
        if (w.phase == Phase::Kickoff) {
            m.kickoff[l] = -1;
            m.player_mask[l] =
                w.kickoff_team == flag::FLAG_RED ? KICKOFF_CMASK_RED : KICKOFF_CMASK_BLUE;
        } else if (w.phase != Phase::Playing) {
            m.steady = false;
        }
    }
    for (std::size_t l = 0; l < W && first_live < W; ++l) {
        if (!m.live[l]) m.player_mask[l] = m.player_mask[first_live];
    }
}

void add_pending_steps(SteadyMatch& m, const LaneRun& run, const bool (&done)[W]) {
    for (std::size_t l = 0; l < run.count; ++l) {
        if (!done[l]) run.worlds[l]->steps += m.pending;
    }
    m.pending = 0;
}

// Whether this tick is steady: no live lane in play crosses or touches a
// goal line (the exact test is left to first_goals_crossed), and no live
// lane's kickoff ball moves, as advance_match tests it.
bool steady_tick(const SteadyMatch& m, const World& w0, f64v ax, f64v ay, const DiscLanes& ball) {
    i64v near_goal = splat(std::int64_t{0});
    for (const Goal& goal : w0.goals) {
        const GoalCrossing c = goal_crossing(ax, ay, ball.px, ball.py, goal);
        near_goal |= c.crossed | c.collinear;
    }
    const i64v moving = (ball.vx * ball.vx + ball.vy * ball.vy) > 0.0;
    return !any(m.live & sel(m.kickoff, moving, near_goal));
}

// The run's ticks in `s`, which belongs to the calling thread alone.
bool step_group(TickLanes& s, const LaneRun& run) {
    if (run.count == 0 || run.count > W || !share_layout(run) || !s.fit(*run.worlds[0])) return false;
    prepare(s, run);
    const World& w0 = *run.worlds[0];
    const std::size_t first_player = w0.first_player;
    const std::size_t n_players = w0.n_players;
    bool done[W] = {};
    std::size_t remaining = run.count;
    for (std::size_t l = 0; l < run.count; ++l) run.scored[l] = -1;
    SteadyMatch match;
    read_phases(match, run, done);
    for (std::uint64_t t = 0; t < run.ticks && remaining > 0; ++t) {
        const bool first_set = t % 2 == 0;
        for (std::size_t p = 0; p < n_players; ++p) player_inputs(s, first_player, p, first_set);
        DiscLanes& ball = s.discs[0];
        const f64v prev_x = ball.px, prev_y = ball.py;
        for (std::size_t p = 0; p < n_players; ++p) {
            DiscLanes& d = s.discs[first_player + p];
            integrate(d, sel(s.players[p].kicking, d.kick_damping, d.damping));
        }
        integrate(ball, ball.damping);
        collide(s);
        if (match.steady && steady_tick(match, w0, prev_x, prev_y, ball)) {
            for (std::size_t p = 0; p < n_players; ++p) s.discs[first_player + p].mask = match.player_mask;
            ++match.pending;
            continue;
        }
        add_pending_steps(match, run, done);
        std::size_t first_goal[W];
        first_goals_crossed(w0, prev_x, prev_y, ball.px, ball.py, first_goal);
        for (std::size_t l = 0; l < run.count; ++l) {
            if (done[l]) continue;
            World& w = *run.worlds[l];
            const MatchOutcome out = advance_match(w, Vec2{ball.vx[l], ball.vy[l]},
                                                   first_goal[l]);
            if (out.player_mask) {
                for (std::size_t p = 0; p < n_players; ++p)
                    s.discs[first_player + p].mask[l] = *out.player_mask;
            }
            if (out.reset) {
                scatter_lane(s, w, l);
                w.reset_positions();
                reload_lane(s, w, l);
            }
            if (out.conceded && run.stop_at_goal) {
                scatter_lane(s, w, l);
                run.scored[l] = static_cast<std::int8_t>(*out.conceded);
                done[l] = true;
                --remaining;
            }
        }
        read_phases(match, run, done);
    }
    add_pending_steps(match, run, done);
    for (std::size_t l = 0; l < run.count; ++l) {
        if (!done[l]) scatter_lane(s, *run.worlds[l], l);
    }
    return true;
}

}  // namespace
}  // namespace vexlo::lanes
