#include "vexlo/world.hpp"

namespace vexlo {
namespace {

// The k-th position of a team's fallback column: 0, -55, 55, -110, 110, ...
// filling from the middle outwards.
double fallback_y(std::uint64_t k) {
    const double spacing = (k % 2 == 1) ? -SPAWN_SPACING : SPAWN_SPACING;
    return spacing * static_cast<double>((k + 1) / 2);
}

Vec2 spawn_position(const std::vector<Vec2>& points, std::uint64_t k, double column_x) {
    if (k < points.size()) return points[k];
    return Vec2{column_x, fallback_y(k)};
}

}  // namespace

void World::reset_positions() {
    discs[0].pos = Vec2{0.0, 0.0};
    discs[0].vel = Vec2{0.0, 0.0};
    std::uint64_t red = 0;
    std::uint64_t blue = 0;
    for (std::size_t p = 0; p < n_players; ++p) {
        Disc& player = discs[first_player + p];
        player.vel = Vec2{0.0, 0.0};
        if (player.team == flag::FLAG_RED) {
            player.pos = spawn_position(red_spawn_points, red, -spawn_distance);
            red += 1;
        } else {
            player.pos = spawn_position(blue_spawn_points, blue, spawn_distance);
            blue += 1;
        }
        kicking[p] = false;
        kick_held[p] = false;
        kick_cooldown[p] = 0;
        kick_credit[p] = 0;
        player.c_mask = PLAYER_CMASK;
    }
    phase = Phase::Kickoff;
    goal_timer = 0;
}

void World::resize_player_state() {
    kicking.assign(n_players, false);
    kick_held.assign(n_players, false);
    kick_cooldown.assign(n_players, 0);
    kick_credit.assign(n_players, 0);
}

void restart_match(World& w) {
    w.reset_positions();
    w.red_score = 0;
    w.blue_score = 0;
    w.steps = 0;
    w.kickoff_team = flag::FLAG_RED;
}

double player_max_speed(const Disc& player) {
    return (player.acceleration * player.damping) / (1.0 - player.acceleration);
}

}  // namespace vexlo
