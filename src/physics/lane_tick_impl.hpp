// The lane-parallel tick; the including file sets the instruction set and
// defines VEXLO_LANE_NS and VEXLO_LANE_ENTRY. Every expression mirrors
// the scalar tick (tick.cpp, contacts.hpp) operation for operation; a branch
// there is a per-lane select here, computed for every lane and kept only where
// the scalar code would have taken it.

#include <immintrin.h>

#include <cstddef>
#include <cstring>
#include <span>
#include <vector>

#include "contacts.hpp"
#include "lane_tick.hpp"

namespace vexlo::VEXLO_LANE_NS {
namespace {

constexpr std::size_t W = VEXLO_LANE_WIDTH;  // environments per instruction
static_assert(W <= MAX_LANES);

// Aligned explicitly: without the wide instruction set enabled for the whole
// file the compiler would give these vectors only 16-byte alignment.
using f64v = double __attribute__((vector_size(8 * W), aligned(8 * W)));
using i64v = std::int64_t __attribute__((vector_size(8 * W), aligned(8 * W)));
using u64v = std::uint64_t __attribute__((vector_size(8 * W), aligned(8 * W)));
static_assert(sizeof(f64v) / sizeof(double) == W && alignof(f64v) == 8 * W);

inline f64v splat(double x) { return f64v{} + x; }
inline i64v splat(std::int64_t x) { return i64v{} + x; }
inline f64v sel(i64v m, f64v a, f64v b) { return m ? a : b; }
inline i64v sel(i64v m, i64v a, i64v b) { return m ? a : b; }
inline i64v wrapping_sub(i64v a, i64v b) { return (i64v)((u64v)a - (u64v)b); }
inline i64v wrapping_add(i64v a, std::int64_t b) { return (i64v)((u64v)a + (std::uint64_t)b); }

// Hardware gathers from absolute addresses, one per lane. The AVX-512 ones
// use the masked form with every lane on, which names the pass-through
// operand the unmasked form leaves undefined (and the compiler warns about).
#if VEXLO_LANE_WIDTH == 8
inline f64v gather_f64(i64v at) {
    return (f64v)_mm512_mask_i64gather_pd(_mm512_setzero_pd(), 0xFF, (__m512i)at, nullptr, 1);
}
inline i64v gather_i64(i64v at) {
    return (i64v)_mm512_mask_i64gather_epi64(_mm512_setzero_si512(), 0xFF, (__m512i)at, nullptr, 1);
}
#else
inline f64v gather_f64(i64v at) { return (f64v)_mm256_i64gather_pd(nullptr, (__m256i)at, 1); }
inline i64v gather_i64(i64v at) {
    return (i64v)_mm256_i64gather_epi64(nullptr, (__m256i)at, 1);
}
#endif

#if VEXLO_LANE_WIDTH == 8
inline f64v vsqrt(f64v x) {
    // Masked for the same reason as the gathers.
    return (f64v)_mm512_mask_sqrt_pd((__m512d)x, 0xFF, (__m512d)x);
}
inline bool any(i64v m) { return _mm512_test_epi64_mask((__m512i)m, (__m512i)m) != 0; }
#else
inline f64v vsqrt(f64v x) { return (f64v)_mm256_sqrt_pd((__m256d)x); }
inline bool any(i64v m) { return _mm256_movemask_pd((__m256d)m) != 0; }
#endif

struct DiscLanes {
    f64v px, py, vx, vy;
    f64v radius, inv_mass, damping, b_coef, gx, gy;
    i64v group, mask;
    f64v accel, kick_accel, kick_damping, kick_strength, kickback;
};

struct PlayerLanes {
    i64v kicking, held, cooldown, credit;  // flags as all-ones / zero lanes
    i64v kick_odd, kick_even;
    f64v dir_x_odd, dir_y_odd, dir_x_even, dir_y_even;
};

// Per-plane and per-segment values that the scalar contacts compute afresh
// every time from the stored geometry; computing them once gives the same bits.
struct PlaneConst {
    const Plane* plane;
    double ux, uy;
};
struct SegmentConst {
    const Segment* seg;
    double nx, ny;  // straight segments: the unit normal
};

struct Lanes {
    std::vector<DiscLanes> discs;
    std::vector<bool> immovable;  // per disc: inv_mass 0 in every lane
    std::vector<PlayerLanes> players;
    std::vector<PlaneConst> planes;
    std::vector<SegmentConst> segments;
    i64v rate_min, rate_cost, rate_cap;
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

template <typename T>
bool same_bytes(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
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

// Loads every lane's discs at once. Positions, velocities and masks always
// come from each lane's own world; the fixed properties too, unless the
// caller promised uniform worlds.
void gather_discs(Lanes& s, const LaneRun& run) {
    const World& w0 = *run.worlds[0];
    i64v base;
    for (std::size_t l = 0; l < W; ++l)
        base[l] = (std::int64_t)(std::uintptr_t)run.worlds[l < run.count ? l : 0]->discs.data();
    const auto at = [&](std::size_t i, std::size_t offset) {
        return base + (std::int64_t)(i * sizeof(Disc) + offset);
    };
    constexpr std::size_t Y = offsetof(Vec2, y);
    for (std::size_t i = 0; i < w0.discs.size(); ++i) {
        DiscLanes& D = s.discs[i];
        D.px = gather_f64(at(i, offsetof(Disc, pos)));
        D.py = gather_f64(at(i, offsetof(Disc, pos) + Y));
        D.vx = gather_f64(at(i, offsetof(Disc, vel)));
        D.vy = gather_f64(at(i, offsetof(Disc, vel) + Y));
        D.mask = gather_i64(at(i, offsetof(Disc, c_mask)));
        if (run.uniform) {
            const Disc& d = w0.discs[i];
            D.radius = splat(d.radius); D.inv_mass = splat(d.inv_mass);
            D.damping = splat(d.damping); D.b_coef = splat(d.b_coef);
            D.gx = splat(d.gravity.x); D.gy = splat(d.gravity.y);
            D.group = splat(d.c_group);
            D.accel = splat(d.acceleration); D.kick_accel = splat(d.kicking_acceleration);
            D.kick_damping = splat(d.kicking_damping); D.kick_strength = splat(d.kick_strength);
            D.kickback = splat(d.kickback);
            continue;
        }
        D.radius = gather_f64(at(i, offsetof(Disc, radius)));
        D.inv_mass = gather_f64(at(i, offsetof(Disc, inv_mass)));
        D.damping = gather_f64(at(i, offsetof(Disc, damping)));
        D.b_coef = gather_f64(at(i, offsetof(Disc, b_coef)));
        D.gx = gather_f64(at(i, offsetof(Disc, gravity)));
        D.gy = gather_f64(at(i, offsetof(Disc, gravity) + Y));
        D.group = gather_i64(at(i, offsetof(Disc, c_group)));
        D.accel = gather_f64(at(i, offsetof(Disc, acceleration)));
        D.kick_accel = gather_f64(at(i, offsetof(Disc, kicking_acceleration)));
        D.kick_damping = gather_f64(at(i, offsetof(Disc, kicking_damping)));
        D.kick_strength = gather_f64(at(i, offsetof(Disc, kick_strength)));
        D.kickback = gather_f64(at(i, offsetof(Disc, kickback)));
    }
}

void prepare(Lanes& s, const LaneRun& run) {
    const World& w0 = *run.worlds[0];
    s.discs.resize(w0.discs.size());
    s.players.resize(w0.n_players);
    gather_discs(s, run);
    for (std::size_t l = 0; l < W; ++l) load_kick_state(s, *run.worlds[l < run.count ? l : 0], l);
    s.immovable.resize(s.discs.size());
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
    s.planes.clear();
    for (const Plane& plane : w0.planes) {
        const double q = 1.0 / std::sqrt(length_sq(plane.normal));
        s.planes.push_back({&plane, plane.normal.x * q, plane.normal.y * q});
    }
    s.segments.clear();
    for (const Segment& seg : w0.segments) {
        const Vec2 e{seg.v1.x - seg.v0.x, seg.v1.y - seg.v0.y};
        const double len = std::sqrt(e.x * e.x + e.y * e.y);
        s.segments.push_back({&seg, -e.y / len, e.x / len});
    }
}

inline i64v collides(i64v group_a, i64v mask_a, i64v group_b, i64v mask_b) {
    return ((mask_a & group_b) != 0) & ((group_a & mask_b) != 0);
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

inline void integrate(DiscLanes& d, f64v damping) {
    d.px = d.px + d.vx;
    d.py = d.py + d.vy;
    d.vx = (d.vx + d.gx) * damping;
    d.vy = (d.vy + d.gy) * damping;
}

void disc_disc(DiscLanes& a, DiscLanes& b) {
    const i64v touching = collides(a.group, a.mask, b.group, b.mask);
    if (!any(touching)) return;
    const f64v dx = a.px - b.px, dy = a.py - b.py;
    const f64v sq = dx * dx + dy * dy;
    const f64v r = a.radius + b.radius;
    const i64v contact = touching & (sq > 0.0) & (sq <= r * r) &
                         ~((a.inv_mass == 0.0) & (b.inv_mass == 0.0));
    if (!any(contact)) return;
    const f64v dist = vsqrt(sq);
    const f64v nx = dx / dist, ny = dy / dist;
    const f64v k = a.inv_mass / (b.inv_mass + a.inv_mass);
    const f64v overlap = r - dist;
    const f64v shift_a = overlap * k;
    const f64v shift_b = overlap - shift_a;
    a.px = sel(contact, a.px + nx * shift_a, a.px);
    a.py = sel(contact, a.py + ny * shift_a, a.py);
    b.px = sel(contact, b.px - nx * shift_b, b.px);
    b.py = sel(contact, b.py - ny * shift_b, b.py);
    const f64v rel = (a.vx - b.vx) * nx + (a.vy - b.vy) * ny;
    const i64v bounce = contact & (rel < 0.0);
    if (!any(bounce)) return;
    const f64v rr = (a.b_coef * b.b_coef + 1.0) * rel;
    const f64v imp_a = rr * k;
    const f64v imp_b = rr - imp_a;
    a.vx = sel(bounce, a.vx - nx * imp_a, a.vx);
    a.vy = sel(bounce, a.vy - ny * imp_a, a.vy);
    b.vx = sel(bounce, b.vx + nx * imp_b, b.vx);
    b.vy = sel(bounce, b.vy + ny * imp_b, b.vy);
}

void disc_plane(DiscLanes& d, i64v movable, const PlaneConst& pc) {
    const Plane& plane = *pc.plane;
    const i64v touching = movable & collides(d.group, d.mask, splat(plane.c_group), splat(plane.c_mask));
    if (!any(touching)) return;
    const f64v pen = d.radius + (plane.dist - (d.px * pc.ux + d.py * pc.uy));
    const i64v contact = touching & (pen > 0.0);
    if (!any(contact)) return;
    d.px = sel(contact, d.px + pc.ux * pen, d.px);
    d.py = sel(contact, d.py + pc.uy * pen, d.py);
    const f64v vn = d.vx * pc.ux + d.vy * pc.uy;
    const i64v bounce = contact & (vn < 0.0);
    const f64v f = -((d.b_coef * plane.b_coef + 1.0) * vn);
    d.vx = sel(bounce, d.vx + plane.normal.x * f, d.vx);
    d.vy = sel(bounce, d.vy + plane.normal.y * f, d.vy);
}

// Side, bias and contact step after either geometry, as segment_response.
void segment_response(DiscLanes& d, const Segment& seg, i64v valid, f64v g, f64v nx, f64v ny) {
    double h = 0.0;
    if (seg.bias == 0.0) {
        const i64v flip = g < 0.0;
        g = sel(flip, -g, g);
        nx = sel(flip, -nx, nx);
        ny = sel(flip, -ny, ny);
    } else if (seg.bias < 0.0) {
        g = -g;
        nx = -nx;
        ny = -ny;
        h = -seg.bias;
    } else {
        h = seg.bias;
    }
    const i64v contact = valid & ~(g < -h) & (g < d.radius);
    if (!any(contact)) return;
    const f64v push = d.radius - g;
    d.px = sel(contact, d.px + nx * push, d.px);
    d.py = sel(contact, d.py + ny * push, d.py);
    const f64v vn = nx * d.vx + ny * d.vy;
    const i64v bounce = contact & (vn < 0.0);
    const f64v f = -((d.b_coef * seg.b_coef + 1.0) * vn);
    d.vx = sel(bounce, d.vx + nx * f, d.vx);
    d.vy = sel(bounce, d.vy + ny * f, d.vy);
}

void disc_segment(DiscLanes& d, i64v movable, const SegmentConst& sc) {
    const Segment& seg = *sc.seg;
    const i64v touching = movable & collides(d.group, d.mask, splat(seg.c_group), splat(seg.c_mask));
    if (!any(touching)) return;
    if (seg.curve_f != 0.0) {
        const f64v wx = d.px - seg.center.x, wy = d.py - seg.center.y;
        const f64v a = wx * seg.t0.x + wy * seg.t0.y;
        const f64v b = wx * seg.t1.x + wy * seg.t1.y;
        const i64v a_pos = a > 0.0;
        const i64v in_sector =
            seg.curve_f < 0.0 ? ~(a_pos & (b > 0.0)) : (a_pos & (b > 0.0));
        const f64v sq = wx * wx + wy * wy;
        const i64v valid = touching & in_sector & (sq > 0.0);
        if (!any(valid)) return;
        const f64v len = vsqrt(sq);
        segment_response(d, seg, valid, len - seg.arc_radius, wx / len, wy / len);
        return;
    }
    const double ex = seg.v1.x - seg.v0.x, ey = seg.v1.y - seg.v0.y;
    const i64v valid = touching & (((d.px - seg.v0.x) * ex + (d.py - seg.v0.y) * ey) > 0.0) &
                       ((ex * (d.px - seg.v1.x) + ey * (d.py - seg.v1.y)) < 0.0);
    if (!any(valid)) return;
    const f64v g = (d.px - seg.v1.x) * sc.nx + (d.py - seg.v1.y) * sc.ny;
    segment_response(d, seg, valid, g, splat(sc.nx), splat(sc.ny));
}

void collide(Lanes& s) {
    const std::size_t n = s.discs.size();
    for (std::size_t i = 0; i < n; ++i) {
        DiscLanes& a = s.discs[i];
        for (std::size_t j = i + 1; j < n; ++j) {
            // Two immovable discs never change each other (no share to divide).
            if (s.immovable[i] && s.immovable[j]) continue;
            disc_disc(a, s.discs[j]);
        }
        const i64v movable = a.inv_mass != 0.0;
        if (!any(movable)) continue;
        for (const PlaneConst& pc : s.planes) disc_plane(a, movable, pc);
        for (const SegmentConst& sc : s.segments) disc_segment(a, movable, sc);
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

}  // namespace

bool run(const LaneRun& run) {
    if (run.count == 0 || run.count > W || !share_layout(run)) return false;
    thread_local Lanes s;
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

}  // namespace vexlo::VEXLO_LANE_NS

namespace vexlo {
bool VEXLO_LANE_ENTRY(const LaneRun& run) { return VEXLO_LANE_NS::run(run); }
}  // namespace vexlo
