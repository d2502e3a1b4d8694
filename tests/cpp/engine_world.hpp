#pragma once

// Small hand-built worlds for the engine tests.

#include <cstring>
#include <vector>

#include "vexlo/world.hpp"

namespace vexlo::test {

inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// A bare disc for the contact functions: motion, size, mass and bounce only.
inline Disc contact_disc(Vec2 pos, Vec2 vel, double radius, double inv_mass, double b_coef) {
    Disc d;
    d.pos = pos;
    d.vel = vel;
    d.radius = radius;
    d.inv_mass = inv_mass;
    d.b_coef = b_coef;
    return d;
}

inline Disc ball_disc(Vec2 pos = {}, Vec2 vel = {}) {
    Disc d;
    d.pos = pos;
    d.vel = vel;
    d.radius = 10.0;
    d.inv_mass = 1.0;
    d.damping = 0.99;
    d.b_coef = 0.5;
    d.c_group = flag::FLAG_BALL | flag::FLAG_KICK | flag::FLAG_SCORE;
    d.c_mask = flag::FLAG_ALL;
    return d;
}

inline Disc player_disc(std::int64_t team, Vec2 pos = {}) {
    Disc d;
    d.pos = pos;
    d.radius = 15.0;
    d.inv_mass = 0.5;
    d.damping = 0.96;
    d.b_coef = 0.5;
    d.c_group = team;
    d.c_mask = PLAYER_CMASK;
    d.acceleration = 0.1;
    d.kicking_acceleration = 0.07;
    d.kicking_damping = 0.96;
    d.kick_strength = 5.0;
    d.kickback = 0.0;
    d.team = team;
    return d;
}

inline Disc post_disc(Vec2 pos) {
    Disc d;
    d.pos = pos;
    d.radius = 8.0;
    d.inv_mass = 0.0;
    d.damping = 0.99;
    d.b_coef = 0.5;
    d.c_group = flag::FLAG_ALL;
    d.c_mask = flag::FLAG_ALL;
    return d;
}

inline Segment wall_segment(Vec2 v0, Vec2 v1, double bias = 0.0, double b_coef = 0.45) {
    Segment s;
    s.v0 = v0;
    s.v1 = v1;
    s.b_coef = b_coef;
    s.bias = bias;
    s.c_group = flag::FLAG_WALL;
    s.c_mask = flag::FLAG_ALL;
    return s;
}

inline Segment arc_segment(Vec2 center, double radius, Vec2 t0, Vec2 t1, double curve_f,
                           std::int64_t group, std::int64_t mask) {
    Segment s;
    s.center = center;
    s.arc_radius = radius;
    s.t0 = t0;
    s.t1 = t1;
    s.curve_f = curve_f;
    s.b_coef = 0.1;
    s.c_group = group;
    s.c_mask = mask;
    return s;
}

// A world with the given ball, stadium discs and players (players in slot
// order), in the Playing phase, with the default kick rate limit.
inline World make_world(Disc ball, std::vector<Disc> stadium, std::vector<Disc> players) {
    World w;
    w.discs.push_back(ball);
    for (const Disc& d : stadium) w.discs.push_back(d);
    w.first_player = w.discs.size();
    for (const Disc& d : players) w.discs.push_back(d);
    w.n_players = players.size();
    w.resize_player_state();
    w.phase = Phase::Playing;
    return w;
}

inline std::vector<PlayerInput> inputs(std::size_t n, PlayerInput in = {}) {
    return std::vector<PlayerInput>(n, in);
}

}  // namespace vexlo::test
