#pragma once

// A small, busy arena for comparing batched steppers with the scalar tick:
// three players a side close to the ball, posts, a movable kickable disc,
// planes (one with a long normal), straight, one-sided and curved walls,
// kickoff barriers and two goals.

#include <random>
#include <vector>

#include "engine_world.hpp"

namespace vexlo::test {

inline World arena(std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    auto jitter = [&] { return static_cast<double>(rng() % 2001) / 100.0 - 10.0; };
    std::vector<Disc> stadium = {post_disc({140, 40}), post_disc({140, -40}),
                                 post_disc({-140, 40}), post_disc({-140, -40})};
    Disc movable = post_disc({0, 60});
    movable.inv_mass = 2.0;
    movable.radius = 12.0;
    movable.c_group = flag::FLAG_ALL | flag::FLAG_KICK;
    stadium.push_back(movable);
    std::vector<Disc> players;
    for (int i = 0; i < 3; ++i) players.push_back(player_disc(flag::FLAG_RED));
    for (int i = 0; i < 3; ++i) players.push_back(player_disc(flag::FLAG_BLUE));
    players[1].inv_mass = 0.0;  // an immovable player still moves and kicks
    players[4].kickback = 1.5;
    // Coefficients whose products round, so that a reordered formula shows.
    for (Disc& p : players) p.b_coef = 0.55;
    for (Disc& d : stadium) d.b_coef = 0.3;
    Disc the_ball = ball_disc();
    the_ball.b_coef = 0.4;
    World w = make_world(the_ball, stadium, players);
    w.spawn_distance = 60.0;
    w.red_spawn_points = {{-40, 10}};
    const std::int64_t wall = flag::FLAG_WALL, all = flag::FLAG_ALL, ball = flag::FLAG_BALL;
    w.planes = {Plane{{0, 1}, -100, 0.5, wall, all}, Plane{{0, -2}, -100, 0.5, wall, all},
                Plane{{1, 0}, -200, 0.5, wall, all}, Plane{{-1, 0}, -200, 0.5, wall, all},
                Plane{{0, 1}, -90, 1.0, wall, ball}};
    w.segments = {
        wall_segment({150, -40}, {150, 40}),
        wall_segment({-150, 40}, {-150, -40}, 4.0),
        wall_segment({-60, -100}, {-60, -70}, -3.0),
        arc_segment({-4.592425496802574e-15, 0}, 30, {30, 4.592425496802574e-15},
                    {30, -4.592425496802574e-15}, 6.123233995736766e-17, flag::FLAG_RED_KO,
                    flag::FLAG_RED | flag::FLAG_BLUE),
        arc_segment({4.592425496802574e-15, 0}, 30, {-30, 4.592425496802574e-15},
                    {-30, -4.592425496802574e-15}, 6.123233995736766e-17, flag::FLAG_BLUE_KO,
                    flag::FLAG_RED | flag::FLAG_BLUE),
        arc_segment({180, 80}, 20, {0, 20}, {20, 0}, 1.0000000000000002, wall, all),
        arc_segment({-180, -80}, 15, {0, -15}, {-15, 0}, -1.0, wall, all),
    };
    w.goals = {Goal{{140, 40}, {140, -40}, flag::FLAG_BLUE},
               Goal{{-140, 40}, {-140, -40}, flag::FLAG_RED}};
    w.reset_positions();
    w.phase = Phase::Kickoff;
    w.kickoff_team = (seed % 2 == 0) ? flag::FLAG_RED : flag::FLAG_BLUE;
    w.ball().pos = {jitter(), jitter()};
    for (std::size_t p = 0; p < w.n_players; ++p) {
        w.player(p).pos.x += jitter() * 2.0;
        w.player(p).pos.y += jitter() * 2.0;
    }
    w.kick_rate_min = static_cast<std::int64_t>(seed % 3);
    w.kick_rate_cost = static_cast<std::int64_t>(seed % 4);
    w.kick_rate_cap = static_cast<std::int64_t>(seed % 3);
    return w;
}

// Inputs that chase the ball with some noise, so that kicks and contacts
// happen often. Kicks cycle through released, pressed and re-armed.
inline std::vector<PlayerInput> chase_inputs(const World& w, std::mt19937_64& rng) {
    std::vector<PlayerInput> in(w.n_players);
    for (std::size_t p = 0; p < w.n_players; ++p) {
        const Vec2 to_ball = w.ball().pos - w.player(p).pos;
        const auto noise = static_cast<std::int64_t>(rng() % 3) - 1;
        in[p].dx = (to_ball.x > 0 ? 1 : -1) * static_cast<std::int64_t>(rng() % 4) + noise;
        in[p].dy = (to_ball.y > 0 ? 1 : -1) * static_cast<std::int64_t>(rng() % 4) - noise;
        in[p].kick = static_cast<std::int64_t>(rng() % 3);
    }
    return in;
}

// Everything the tick can change, compared bit for bit.
inline bool same_state(const World& a, const World& b) {
    auto same = [](const auto& x, const auto& y) {
        return x.size() == y.size() &&
               (x.empty() || std::memcmp(x.data(), y.data(), x.size() * sizeof(x[0])) == 0);
    };
    return same(a.discs, b.discs) && a.kicking == b.kicking && a.kick_held == b.kick_held &&
           same(a.kick_cooldown, b.kick_cooldown) && same(a.kick_credit, b.kick_credit) &&
           a.steps == b.steps && a.kickoff_team == b.kickoff_team &&
           a.goal_timer == b.goal_timer && a.red_score == b.red_score &&
           a.blue_score == b.blue_score && a.phase == b.phase;
}

}  // namespace vexlo::test
