#include <bit>
#include <cmath>
#include <cstdint>

#include "clear_box.hpp"
#include "contacts.hpp"
#include "step_world.hpp"
#include "vexlo/world.hpp"
#include "wrap.hpp"

namespace vexlo {

Vec2 input_direction(std::int64_t dx, std::int64_t dy) {
    const Vec2 a{static_cast<double>(dx), static_cast<double>(dy)};
    const double s = length_sq(a);
    if (s > 0.0) return Vec2{a.x / std::sqrt(s), a.y / std::sqrt(s)};
    return Vec2{0.0, 0.0};
}

namespace {

// Arming from this tick's input and the previous one: a held press arms at
// most once, a 2 re-arms every tick, a release disarms.
void arm_kick(World& w, std::size_t p, std::int64_t kick) {
    if (kick <= 0) {
        w.kicking[p] = false;
    } else if (kick == 2 || !w.kick_held[p]) {
        w.kicking[p] = true;
    }
    w.kick_held[p] = kick > 0;
}

// Kicks every kickable disc within reach, in index order. Returns whether any
// was reached. The kicker's own velocity accumulates the kickbacks.
bool deliver_kick(World& w, std::size_t kicker_index) {
    const Disc kicker = w.discs[kicker_index];  // position and strengths as they stand now
    Vec2 kicker_vel = kicker.vel;
    bool delivered = false;
    for (std::size_t j = 0; j < w.discs.size(); ++j) {
        if (j == kicker_index) continue;
        Disc& target = w.discs[j];
        if ((target.c_group & flag::FLAG_KICK) == 0) continue;
        const Vec2 d = target.pos - kicker.pos;
        const double s = length_sq(d);
        if (!(s > 0.0)) continue;
        const double dist = std::sqrt(s);
        if (!((dist - target.radius) - kicker.radius < KICK_RANGE)) continue;
        const Vec2 n{d.x / dist, d.y / dist};
        target.vel.x = target.inv_mass * (kicker.kick_strength * n.x) + target.vel.x;
        target.vel.y = target.inv_mass * (kicker.kick_strength * n.y) + target.vel.y;
        kicker_vel.x = kicker.inv_mass * (n.x * (-kicker.kickback)) + kicker_vel.x;
        kicker_vel.y = kicker.inv_mass * (n.y * (-kicker.kickback)) + kicker_vel.y;
        delivered = true;
    }
    w.discs[kicker_index].vel = kicker_vel;
    return delivered;
}

void apply_inputs(World& w, std::span<const PlayerInput> inputs) {
    for (std::size_t p = 0; p < w.n_players; ++p) {
        const PlayerInput in = inputs[p];
        arm_kick(w, p, in.kick);
        if (w.kick_cooldown[p] > 0) w.kick_cooldown[p] -= 1;
        if (w.kick_credit[p] < w.kick_rate_cap) w.kick_credit[p] += 1;
        const std::size_t index = w.first_player + p;
        if (w.kicking[p] && w.kick_cooldown[p] < 1 && w.kick_credit[p] >= 0 &&
            deliver_kick(w, index)) {
            w.kicking[p] = false;
            w.kick_cooldown[p] = w.kick_rate_min;
            w.kick_credit[p] = wrapping_sub(w.kick_credit[p], w.kick_rate_cost);
        }
        Disc& player = w.discs[index];
        const double accel = w.kicking[p] ? player.kicking_acceleration : player.acceleration;
        const Vec2 dir = input_direction(in.dx, in.dy);
        player.vel = player.vel + dir * accel;
    }
}

void integrate(Disc& d, double damping) {
    d.pos = moved(d.pos, d.vel);
    d.vel = (d.vel + d.gravity) * damping;
}

// Players, then the ball; stadium discs are never carried by their velocity.
void move_discs(World& w) {
    for (std::size_t p = 0; p < w.n_players; ++p) {
        Disc& player = w.discs[w.first_player + p];
        integrate(player, w.kicking[p] ? player.kicking_damping : player.damping);
    }
    Disc& ball = w.discs[0];
    integrate(ball, ball.damping);
}

// The walls from the combined index `from` on (planes first, then
// segments), in stadium order.
void walls_from(World& w, Disc& a, std::size_t from) {
    const std::size_t n_planes = w.planes.size();
    for (std::size_t i = from; i < n_planes; ++i) {
        const Plane& plane = w.planes[i];
        if (flag::collides(a.c_group, a.c_mask, plane.c_group, plane.c_mask)) disc_plane(a, plane);
    }
    for (std::size_t i = from > n_planes ? from - n_planes : 0; i < w.segments.size(); ++i) {
        const Segment& seg = w.segments[i];
        if (flag::collides(a.c_group, a.c_mask, seg.c_group, seg.c_mask)) disc_segment(a, seg);
    }
}

// A disc's wall tests with the help of `boxes`: none inside its clear box,
// and inside a cell of the grid only those of the walls near it, as long as
// the disc stays in the cell (a contact that pushes it out leaves the walls
// after it to be tested in full). The tests skipped would all miss.
void walls_with_boxes(World& w, Disc& a, ClearBoxCache& boxes) {
    const ClearBoxCache::Entry& k = boxes.entry_for(a.radius, a.c_group, a.c_mask);
    if (k.box.contains(a.pos)) return;
    const WallGrid& grid = boxes.grid();
    const std::size_t cell = grid.cell_of(a.pos);
    if (cell == WallGrid::CELLS || !grid.cells[cell].contains(a.pos)) return walls_from(w, a, 0);
    const std::size_t n_planes = w.planes.size();
    for (std::uint64_t near = k.near[cell]; near != 0; near &= near - 1) {
        const std::size_t i = static_cast<std::size_t>(std::countr_zero(near));
        if (i < n_planes) {
            disc_plane(a, w.planes[i]);
        } else {
            disc_segment(a, w.segments[i - n_planes]);
        }
        if (!grid.cells[cell].contains(a.pos)) return walls_from(w, a, i + 1);
    }
}

// One pass: every later test sees the corrections made before it.
void collide(World& w, ClearBoxCache* boxes) {
    const std::size_t n = w.discs.size();
    for (std::size_t i = 0; i < n; ++i) {
        Disc& a = w.discs[i];
        for (std::size_t j = i + 1; j < n; ++j) {
            Disc& b = w.discs[j];
            if (flag::collides(a.c_group, a.c_mask, b.c_group, b.c_mask)) disc_disc(a, b);
        }
        if (a.inv_mass == 0.0) continue;
        if (boxes != nullptr) {
            walls_with_boxes(w, a, *boxes);
        } else {
            walls_from(w, a, 0);
        }
    }
}

void set_player_masks(World& w, std::int64_t mask) {
    for (std::size_t p = 0; p < w.n_players; ++p) w.discs[w.first_player + p].c_mask = mask;
}

}  // namespace

std::size_t first_goal_crossed(const World& w, Vec2 prev_ball, Vec2 ball_pos) {
    for (std::size_t g = 0; g < w.goals.size(); ++g) {
        if (crosses_goal_line(prev_ball, ball_pos, w.goals[g])) return g;
    }
    return w.goals.size();
}

MatchOutcome advance_match(World& w, Vec2 ball_vel, std::size_t first_goal) {
    const Phase phase = w.phase;
    w.steps += 1;
    MatchOutcome out;
    switch (phase) {
        case Phase::Kickoff:
            out.player_mask =
                w.kickoff_team == flag::FLAG_RED ? KICKOFF_CMASK_RED : KICKOFF_CMASK_BLUE;
            if (length_sq(ball_vel) > 0.0) w.phase = Phase::Playing;
            break;
        case Phase::Playing:
            out.player_mask = PLAYER_CMASK;
            if (first_goal < w.goals.size()) {
                const Goal& goal = w.goals[first_goal];
                if (goal.team == flag::FLAG_RED) {
                    w.blue_score = wrapping_inc(w.blue_score);
                } else {
                    w.red_score = wrapping_inc(w.red_score);
                }
                w.kickoff_team = goal.team;
                w.goal_timer = GOAL_RESET_DELAY;
                w.phase = Phase::AfterGoal;
                out.conceded = goal.team;
            }
            break;
        case Phase::AfterGoal:
            w.goal_timer = wrapping_sub(w.goal_timer, 1);
            out.reset = w.goal_timer < 1;
            break;
    }
    return out;
}

std::optional<std::int64_t> step_world(World& w, std::span<const PlayerInput> inputs,
                                       ClearBoxCache* boxes) {
    apply_inputs(w, inputs);
    const Vec2 prev_ball = w.discs[0].pos;
    move_discs(w);
    collide(w, boxes);
    const std::size_t first_goal = w.phase == Phase::Playing
                                       ? first_goal_crossed(w, prev_ball, w.discs[0].pos)
                                       : w.goals.size();
    const MatchOutcome out = advance_match(w, w.discs[0].vel, first_goal);
    if (out.player_mask) set_player_masks(w, *out.player_mask);
    if (out.reset) w.reset_positions();
    return out.conceded;
}

std::optional<std::int64_t> World::step(std::span<const PlayerInput> inputs) {
    return step_world(*this, inputs, nullptr);
}

}  // namespace vexlo
