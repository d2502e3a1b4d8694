// The lane-parallel tick; the including file sets the instruction set and
// defines VEXLO_LANE_WIDTH, VEXLO_LANE_NS and VEXLO_LANE_ENTRY.

#include "lane_kernels.hpp"

namespace vexlo::VEXLO_LANE_NS {
namespace {

struct PlayerLanes {
    i64v kicking, held, cooldown, credit;  // flags as all-ones / zero lanes
    i64v kick_odd, kick_even;
    f64v dir_x_odd, dir_y_odd, dir_x_even, dir_y_even;
};

// One thread's lane state, sized once for a batch's disc layout (see
// Workspace): a tick only overwrites it.
struct Lanes {
    std::vector<DiscLanes> discs;
    std::vector<bool> immovable;  // per disc: inv_mass 0 in every lane
    std::vector<PlayerLanes> players;
    Geometry geometry;
    i64v rate_min, rate_cost, rate_cap;

    Lanes(const World& layout, const Walls& walls)
        : discs(layout.discs.size()), immovable(layout.discs.size()), players(layout.n_players) {
        geometry.use(walls);
    }

    // Whether w's worlds fit this state as it is, with nothing to resize.
    bool fit(const World& w) const {
        return discs.size() == w.discs.size() && players.size() == w.n_players &&
               geometry.planes.size() == w.planes.size() &&
               geometry.segments.size() == w.segments.size();
    }
};

void load_kick_state(Lanes& s, const World& w, std::size_t l) {
    for (std::size_t p = 0; p < w.n_players; ++p) {
        PlayerLanes& P = s.players[p];
        P.kicking[l] = w.kicking[p] ? -1 : 0;
        P.held[l] = w.kick_held[p] ? -1 : 0;
        P.cooldown[l] = w.kick_cooldown[p];
        P.credit[l] = w.kick_credit[p];
    }
    s.rate_min[l] = w.kick_rate_min;
    s.rate_cost[l] = w.kick_rate_cost;
    s.rate_cap[l] = w.kick_rate_cap;
}

// Reloads one lane after the kickoff placement changed its world: only
// positions, velocities, masks and the kick state can differ.
void reload_lane(Lanes& s, const World& w, std::size_t l) {
    for (std::size_t i = 0; i < w.discs.size(); ++i) {
        const Disc& d = w.discs[i];
        DiscLanes& D = s.discs[i];
        D.px[l] = d.pos.x; D.py[l] = d.pos.y; D.vx[l] = d.vel.x; D.vy[l] = d.vel.y;
        D.mask[l] = d.c_mask;
    }
    load_kick_state(s, w, l);
}

// Only positions, velocities, masks and the kick state change in a tick.
void scatter_lane(const Lanes& s, World& w, std::size_t l) {
    for (std::size_t i = 0; i < w.discs.size(); ++i) {
        Disc& d = w.discs[i];
        const DiscLanes& D = s.discs[i];
        d.pos = Vec2{D.px[l], D.py[l]};
        d.vel = Vec2{D.vx[l], D.vy[l]};
        d.c_mask = D.mask[l];
    }
    for (std::size_t p = 0; p < w.n_players; ++p) {
        const PlayerLanes& P = s.players[p];
        w.kicking[p] = P.kicking[l] != 0;
        w.kick_held[p] = P.held[l] != 0;
        w.kick_cooldown[p] = P.cooldown[l];
        w.kick_credit[p] = P.credit[l];
    }
}

// Lanes share the geometry and the disc layout; everything else is per lane.
bool share_layout(const LaneRun& run) {
    const World& a = *run.worlds[0];
    if (a.n_players > MAX_PLAYERS || a.first_player + a.n_players != a.discs.size()) return false;
    for (std::size_t l = 1; l < run.count; ++l) {
        const World& b = *run.worlds[l];
        if (b.discs.size() != a.discs.size() || b.first_player != a.first_player ||
            b.n_players != a.n_players)
            return false;
        if (run.uniform) continue;
        if (!same_bytes(a.planes, b.planes) ||
            !same_bytes(a.segments, b.segments) || !same_bytes(a.goals, b.goals))
            return false;
    }
    return true;
}

void prepare(Lanes& s, const LaneRun& run) {
    const World& w0 = *run.worlds[0];
    gather_discs(s.discs, run.worlds, run.count, run.uniform, w0.discs.size());
    for (std::size_t l = 0; l < W; ++l) load_kick_state(s, *run.worlds[l < run.count ? l : 0], l);
    for (std::size_t i = 0; i < s.discs.size(); ++i)
        s.immovable[i] = !any(s.discs[i].inv_mass != 0.0);
    for (std::size_t p = 0; p < w0.n_players; ++p) {
        PlayerLanes& P = s.players[p];
        for (std::size_t l = 0; l < W; ++l) {
            const std::size_t src = l < run.count ? l : 0;
            const PlayerInput odd = run.odd_ticks[src][p];
            const PlayerInput even = run.even_ticks[src][p];
            const Vec2 d_odd = input_direction(odd.dx, odd.dy);
            const bool same_move = odd.dx == even.dx && odd.dy == even.dy;
            const Vec2 d_even = same_move ? d_odd : input_direction(even.dx, even.dy);
            P.kick_odd[l] = odd.kick;
            P.kick_even[l] = even.kick;
            P.dir_x_odd[l] = d_odd.x; P.dir_y_odd[l] = d_odd.y;
            P.dir_x_even[l] = d_even.x; P.dir_y_even[l] = d_even.y;
        }
    }
}

// Stage 1 for one player: arming, rate limit, kick, movement.
void player_inputs(Lanes& s, std::size_t first_player, std::size_t p, bool odd) {
    PlayerLanes& P = s.players[p];
    const std::size_t kicker = first_player + p;
    const i64v kick = odd ? P.kick_odd : P.kick_even;
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
        for (std::size_t j = 0; j < s.discs.size(); ++j) {
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
    K.vx = K.vx + (odd ? P.dir_x_odd : P.dir_x_even) * accel;
    K.vy = K.vy + (odd ? P.dir_y_odd : P.dir_y_even) * accel;
}

void collide(Lanes& s) {
    const std::size_t n = s.discs.size();
    for (std::size_t i = 0; i < n; ++i) {
        DiscLanes& a = s.discs[i];
        for (std::size_t j = i + 1; j < n; ++j) {
            // Two immovable discs never change each other (no share to divide).
            if (s.immovable[i] && s.immovable[j]) continue;
            disc_disc(a, s.discs[j], splat(std::int64_t{-1}));
        }
        const i64v movable = a.inv_mass != 0.0;
        if (!any(movable) || s.geometry.clear_of_walls(a)) continue;
        for (const PlaneConst& pc : s.geometry.plane_consts) disc_plane(a, movable, pc);
        for (const SegmentConst& sc : s.geometry.segment_consts) disc_segment(a, movable, sc);
    }
}

// The goal-line sign tests for every lane at once. A lane whose path lies
// along the goal's own line (both of the goal's products exactly 0) needs the
// scalar test's shared-point rule and is reported in `collinear`.
struct GoalCrossing {
    i64v crossed;
    i64v collinear;
};

GoalCrossing goal_crossing(f64v ax, f64v ay, f64v bx, f64v by, const Goal& goal) {
    const Vec2 p0 = goal.p0, p1 = goal.p1;
    const f64v mx = bx - ax, my = by - ay;
    const f64v s0 = my * (bx - p0.x) - mx * (by - p0.y);
    const f64v s1 = my * (bx - p1.x) - mx * (by - p1.y);
    const Vec2 e = p1 - p0;
    const f64v u0 = (ax - p0.x) * e.y - (ay - p0.y) * e.x;
    const f64v u1 = (bx - p0.x) * e.y - (by - p0.y) * e.x;
    // "Not above 0" also refuses a product that is not a number.
    const i64v signs = ((s0 * s1) <= 0.0) & ((u0 * u1) <= 0.0);
    const i64v along = (u0 == 0.0) & (u1 == 0.0);
    return GoalCrossing{signs & ~along, signs & along};
}

// Per lane, the first goal crossed this tick (goals.size() for none).
void first_goals_crossed(const World& w0, f64v ax, f64v ay, f64v bx, f64v by,
                         std::size_t (&first)[W]) {
    const std::size_t none = w0.goals.size();
    for (std::size_t l = 0; l < W; ++l) first[l] = none;
    for (std::size_t g = 0; g < none; ++g) {
        const GoalCrossing c = goal_crossing(ax, ay, bx, by, w0.goals[g]);
        if (!any(c.crossed | c.collinear)) continue;
        for (std::size_t l = 0; l < W; ++l) {
            if (first[l] != none) continue;
            if (c.crossed[l] || (c.collinear[l] && crosses_goal_line(Vec2{ax[l], ay[l]},
                                                                     Vec2{bx[l], by[l]},
                                                                     w0.goals[g])))
                first[l] = g;
        }
    }
}

// The batch of ticks in `s`, which belongs to the calling thread alone.
bool step_group(Lanes& s, const LaneRun& run) {
    if (run.count == 0 || run.count > W || !share_layout(run) || !s.fit(*run.worlds[0])) return false;
    prepare(s, run);
    const World& w0 = *run.worlds[0];
    const std::size_t first_player = w0.first_player;
    const std::size_t n_players = w0.n_players;
    bool done[W] = {};
    std::size_t remaining = run.count;
    for (std::size_t l = 0; l < run.count; ++l) run.scored[l] = -1;
    for (std::uint64_t t = 0; t < run.ticks && remaining > 0; ++t) {
        const bool odd = t % 2 == 0;
        for (std::size_t p = 0; p < n_players; ++p) player_inputs(s, first_player, p, odd);
        DiscLanes& ball = s.discs[0];
        const f64v prev_x = ball.px, prev_y = ball.py;
        for (std::size_t p = 0; p < n_players; ++p) {
            DiscLanes& d = s.discs[first_player + p];
            integrate(d, sel(s.players[p].kicking, d.kick_damping, d.damping));
        }
        integrate(ball, ball.damping);
        collide(s);
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
    }
    for (std::size_t l = 0; l < run.count; ++l) {
        if (!done[l]) scatter_lane(s, *run.worlds[l], l);
    }
    return true;
}

}  // namespace
}  // namespace vexlo::VEXLO_LANE_NS
