#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "vexlo/flag.hpp"
#include "vexlo/vec2.hpp"

namespace vexlo {

// One record serves the ball, the stadium's discs and the players; the
// player-only fields are zero for the first two.
struct Disc {
    Vec2 pos;
    Vec2 vel;
    double radius = 0.0;
    double inv_mass = 0.0;  // 0: contacts cannot move it, and it skips planes and segments
    double damping = 0.0;
    double b_coef = 0.0;
    Vec2 gravity;
    std::int64_t c_group = 0;
    std::int64_t c_mask = 0;
    double acceleration = 0.0;
    double kicking_acceleration = 0.0;
    double kicking_damping = 0.0;
    double kick_strength = 0.0;
    double kickback = 0.0;
    std::int64_t team = 0;
};

// A straight wall, or an arc when curve_f is not 0 (center, t0, t1 and
// arc_radius are then filled in by the stadium loader).
struct Segment {
    Vec2 v0;
    Vec2 v1;
    Vec2 center;
    Vec2 t0;
    Vec2 t1;
    double b_coef = 0.0;
    double bias = 0.0;
    std::int64_t c_group = 0;
    std::int64_t c_mask = 0;
    double curve_f = 0.0;
    double arc_radius = 0.0;
};

// An infinite wall; the normal is kept at the length the stadium gave it.
struct Plane {
    Vec2 normal;
    double dist = 0.0;
    double b_coef = 0.0;
    std::int64_t c_group = 0;
    std::int64_t c_mask = 0;
};

// A goal line and the team that defends it (and concedes when the ball crosses it).
struct Goal {
    Vec2 p0;
    Vec2 p1;
    std::int64_t team = 0;
};

// One player's input for one tick. Only the direction of (dx, dy) counts;
// kick <= 0 is released, >= 1 pressed, exactly 2 pressed and re-armed.
struct PlayerInput {
    std::int64_t dx = 0;
    std::int64_t dy = 0;
    std::int64_t kick = 0;
};

enum class Phase : std::uint8_t { Kickoff = 0, Playing = 1, AfterGoal = 2 };

inline constexpr std::int64_t PLAYER_CMASK = 39;
inline constexpr std::int64_t KICKOFF_CMASK_RED = PLAYER_CMASK | flag::FLAG_RED_KO;    // 47
inline constexpr std::int64_t KICKOFF_CMASK_BLUE = PLAYER_CMASK | flag::FLAG_BLUE_KO;  // 55
inline constexpr double KICK_RANGE = 4.0;
inline constexpr std::int64_t GOAL_RESET_DELAY = 150;
inline constexpr double SPAWN_SPACING = 55.0;
inline constexpr std::size_t MAX_PLAYERS = 32;

// One match. A plain value: it owns every array, copying it is a deep copy,
// and stepping it never allocates.
struct World {
    std::vector<Disc> discs;  // ball, stadium discs, red players, blue players
    std::vector<Segment> segments;
    std::vector<Plane> planes;
    std::vector<Goal> goals;
    std::vector<bool> kicking;
    std::vector<bool> kick_held;
    std::vector<std::int64_t> kick_cooldown;
    std::vector<std::int64_t> kick_credit;
    std::vector<Vec2> red_spawn_points;
    std::vector<Vec2> blue_spawn_points;
    std::uint64_t n_players = 0;
    std::uint64_t first_player = 0;
    std::uint64_t steps = 0;
    std::int64_t kick_rate_min = 2;
    std::int64_t kick_rate_cost = 0;
    std::int64_t kick_rate_cap = 1;
    double spawn_distance = 277.5;
    std::int64_t kickoff_team = flag::FLAG_RED;
    std::int64_t goal_timer = 0;
    std::int32_t red_score = 0;
    std::int32_t blue_score = 0;
    Phase phase = Phase::Kickoff;

    Disc& ball() { return discs[0]; }
    const Disc& ball() const { return discs[0]; }
    Disc& player(std::size_t slot) { return discs[first_player + slot]; }
    const Disc& player(std::size_t slot) const { return discs[first_player + slot]; }

    // Advances one tick; `inputs` holds at least n_players entries. Returns
    // the team flag of the team that conceded during this tick, if any.
    std::optional<std::int64_t> step(std::span<const PlayerInput> inputs);

    // Places the kickoff: ball and players at rest on their spots, kick state
    // cleared, normal player masks, phase Kickoff. Leaves kickoff_team alone.
    void reset_positions();

    // Sizes the four per-player arrays for n_players slots, all cleared.
    void resize_player_state();
};

// What the match rules decided at the end of a tick, for the caller to apply
// to the discs: the players' new collision mask, the kickoff placement, and
// the team that conceded.
struct MatchOutcome {
    std::optional<std::int64_t> player_mask;
    bool reset = false;
    std::optional<std::int64_t> conceded;
};

// The index of the first goal line (in stored order) that the ball's move
// from prev_ball to ball_pos crosses, or goals.size() for none.
std::size_t first_goal_crossed(const World& w, Vec2 prev_ball, Vec2 ball_pos);

// The match rules of the end of a tick, on the World's counters only: step
// counter, kickoff barrier mask, scoring and the post-goal delay. The ball's
// velocity and the first goal crossed (consulted only while Playing) come
// from the caller, so batched steppers that keep discs elsewhere share this.
MatchOutcome advance_match(World& w, Vec2 ball_vel, std::size_t first_goal);

// The unit direction of a movement input: only the direction of (dx, dy)
// counts, and (0, 0) gives (0, 0).
Vec2 input_direction(std::int64_t dx, std::int64_t dy);

// A fresh game on the same World: kickoff placement, scores and tick
// counter cleared, red to kick off. Kick rate settings survive.
void restart_match(World& w);

// The speed a player approaches under constant input, used to normalise
// velocities: acceleration * damping / (1 - acceleration).
double player_max_speed(const Disc& player);

// Whether the ball's move from `from` to `to` crosses the goal line.
bool crosses_goal_line(Vec2 from, Vec2 to, const Goal& goal);

}  // namespace vexlo
