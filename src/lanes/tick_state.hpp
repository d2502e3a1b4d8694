#pragma once

// The lane-parallel tick's state: every lane's discs, kick state and
// inputs, loaded from the worlds before a batch of ticks and written back
// after it. Part of the lane code compiled once per instruction set (see
// lane_vectors.hpp).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lanes/disc_lanes.hpp"
#include "lanes/lane_run.hpp"
#include "lanes/wall_cache.hpp"
#include "vexlo/world.hpp"

namespace vexlo::lanes {
namespace {

// Two sets of inputs alternate: `first` for ticks 0, 2, 4, ... of the
// batch, `second` for ticks 1, 3, 5, ...
struct PlayerLanes {
    i64v kicking, held, cooldown, credit;  // flags as all-ones / zero lanes
    i64v kick_first, kick_second;
    f64v dir_x_first, dir_y_first, dir_x_second, dir_y_second;
};

// One thread's lane state, sized once for a batch's disc layout (see
// workspace_slots.hpp): a tick only overwrites it.
struct TickLanes {
    std::vector<DiscLanes> discs;
    std::vector<PlayerLanes> players;
    WallCache walls;
    i64v rate_min, rate_cost, rate_cap;
    // Per disc i, the discs j > i it is tested against: all but pairs of
    // two discs immovable in every lane, which never change each other (no
    // share to divide). partners[first_partner[i] ..first_partner[i + 1]).
    std::vector<std::uint32_t> partners, first_partner;
    // The discs that some lane's kick can reach (FLAG_KICK in their group),
    // in index order; kickable[0 .. n_kickable).
    std::vector<std::uint32_t> kickable;
    std::size_t n_kickable = 0;
    // Whether discs hold the fixed properties of uniform worlds (see gather_discs).
    bool fixed_held = false;
    // Per disc, the index of the clear box it had last (see WallCache::box_for).
    std::vector<std::uint8_t> box_hint;

    TickLanes(const World& layout, const Walls& shared_walls)
        : discs(layout.discs.size()),
          players(layout.n_players),
          walls(shared_walls),
          partners(layout.discs.size() * layout.discs.size() / 2),
          first_partner(layout.discs.size() + 1),
          kickable(layout.discs.size()),
          box_hint(layout.discs.size(), std::uint8_t{WallCache::N_BOXES}) {}

    std::span<const std::uint32_t> partners_of(std::size_t i) const {
        return {partners.data() + first_partner[i], partners.data() + first_partner[i + 1]};
    }
    std::span<const std::uint32_t> kickable_discs() const { return {kickable.data(), n_kickable}; }

    // Whether w's worlds fit this state as it is, with nothing to resize.
    bool fit(const World& w) const {
        return discs.size() == w.discs.size() && players.size() == w.n_players && walls.fit(w);
    }
};

void load_kick_state(TickLanes& s, const World& w, std::size_t l) {
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
void reload_lane(TickLanes& s, const World& w, std::size_t l) {
    for (std::size_t i = 0; i < w.discs.size(); ++i) {
        const Disc& d = w.discs[i];
        DiscLanes& D = s.discs[i];
        D.px[l] = d.pos.x; D.py[l] = d.pos.y; D.vx[l] = d.vel.x; D.vy[l] = d.vel.y;
        D.mask[l] = d.c_mask;
    }
    load_kick_state(s, w, l);
}

// Only positions, velocities, masks and the kick state change in a tick.
void scatter_lane(const TickLanes& s, World& w, std::size_t l) {
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

void load_inputs(TickLanes& s, const LaneRun& run);

// Loads the run's worlds and both sets of inputs into `s`.
void prepare(TickLanes& s, const LaneRun& run) {
    const World& w0 = *run.worlds[0];
    const bool lists_hold = run.uniform && s.fixed_held;
    gather_discs(s.discs, run.worlds, run.count, run.uniform, w0.discs.size(), s.fixed_held);
    for (std::size_t l = 0; l < W; ++l) load_kick_state(s, *run.worlds[l < run.count ? l : 0], l);
    const std::size_t n = s.discs.size();
    // The lists below depend on fixed properties only: those of the last run still hold.
    if (lists_hold && s.fixed_held) {
        load_inputs(s, run);
        return;
    }
    std::uint32_t n_partners = 0;
    s.n_kickable = 0;
    for (std::size_t i = 0; i < n; ++i) {
        s.first_partner[i] = n_partners;
        const bool immovable = !any(s.discs[i].inv_mass != 0.0);
        for (std::size_t j = i + 1; j < n; ++j) {
            if (!immovable || any(s.discs[j].inv_mass != 0.0))
                s.partners[n_partners++] = static_cast<std::uint32_t>(j);
        }
        if (any((s.discs[i].group & flag::FLAG_KICK) != 0))
            s.kickable[s.n_kickable++] = static_cast<std::uint32_t>(i);
    }
    s.first_partner[n] = n_partners;
    load_inputs(s, run);
}

// The two input sets of every lane, as directions and kick inputs.
void load_inputs(TickLanes& s, const LaneRun& run) {
    const World& w0 = *run.worlds[0];
    for (std::size_t p = 0; p < w0.n_players; ++p) {
        PlayerLanes& P = s.players[p];
        for (std::size_t l = 0; l < W; ++l) {
            const std::size_t src = l < run.count ? l : 0;
            const PlayerInput first = run.first_inputs[src][p];
            const PlayerInput second = run.second_inputs[src][p];
            const Vec2 d_first = input_direction(first.dx, first.dy);
            const bool same_move = first.dx == second.dx && first.dy == second.dy;
            const Vec2 d_second = same_move ? d_first : input_direction(second.dx, second.dy);
            P.kick_first[l] = first.kick;
            P.kick_second[l] = second.kick;
            P.dir_x_first[l] = d_first.x; P.dir_y_first[l] = d_first.y;
            P.dir_x_second[l] = d_second.x; P.dir_y_second[l] = d_second.y;
        }
    }
}

}  // namespace
}  // namespace vexlo::lanes
