// snapshot, set_state, kick_state and the two settings of every environment.
#include <algorithm>
#include <string>

#include "batch/state.hpp"
#include "batch/state_rows.hpp"
#include "batch/worker_pool.hpp"
#include "lanes/lanes.hpp"

namespace vexlo {
namespace {

// Copies the worlds of whole lane groups into their rows of the arrays, in
// the same groups as the steppers use, so that each thread mostly reads
// worlds that its own core touched last.
struct SnapshotTask {
    const Batch::State* b;
    const BatchSnapshot* out;
    std::size_t width;

    void operator()(std::size_t group_begin, std::size_t group_end) const noexcept {
        const std::size_t end = std::min(b->worlds.size(), group_end * width);
        copy_state_rows(b->worlds.data(), b->n_players, group_begin * width, end, *out);
    }
};

template <class T, int Rank>
bool has_shape(const StridedView<T, Rank>& a, std::size_t d0, std::size_t d1, std::size_t d2) {
    const std::size_t want[3] = {d0, d1, d2};
    for (int i = 0; i < Rank; ++i) {
        if (static_cast<std::size_t>(a.shape[i]) != want[i]) return false;
    }
    return true;
}

}  // namespace

void copy_state_rows(const World* worlds, std::size_t n_players, std::size_t begin,
                     std::size_t end, const BatchSnapshot& out) noexcept {
    const std::size_t p = n_players;
    for (std::size_t i = begin; i < end; ++i) {
        const World& w = worlds[i];
        const Disc& ball = w.ball();
        out.ball_pos[2 * i] = ball.pos.x;
        out.ball_pos[2 * i + 1] = ball.pos.y;
        out.ball_vel[2 * i] = ball.vel.x;
        out.ball_vel[2 * i + 1] = ball.vel.y;
        for (std::size_t s = 0; s < p; ++s) {
            const Disc& d = w.player(s);
            const std::size_t at = 2 * (i * p + s);
            out.player_pos[at] = d.pos.x;
            out.player_pos[at + 1] = d.pos.y;
            out.player_vel[at] = d.vel.x;
            out.player_vel[at + 1] = d.vel.y;
        }
        out.steps[i] = static_cast<std::int64_t>(w.steps);
    }
}

void Batch::snapshot(const BatchSnapshot& out) const {
    SnapshotTask task{s_.get(), &out, lane_width()};
    shared_pool().parallel_for(group_count(s_->worlds.size(), task.width), task);
}

BatchStatus Batch::set_state(const BatchPlacement& st) {
    State& b = *s_;
    const std::size_t n = b.worlds.size();
    const std::size_t p = b.n_players;
    if (!has_shape(st.ball_pos, n, 2, 0) || !has_shape(st.ball_vel, n, 2, 0))
        return invalid("set_state: ball_pos " + shape_text(st.ball_pos) + " / ball_vel " +
                       shape_text(st.ball_vel) + " must both be (n_envs=" + decimal(n) + ", 2)");
    if (!has_shape(st.player_pos, n, p, 2) || !has_shape(st.player_vel, n, p, 2))
        return invalid("set_state: player_pos " + shape_text(st.player_pos) + " / player_vel " +
                       shape_text(st.player_vel) + " must both be (n_envs=" + decimal(n) +
                       ", n_players=" + decimal(p) + ", 2)");
    if (st.steps && static_cast<std::size_t>(st.steps->shape[0]) != n)
        return invalid("set_state: steps length " + decimal(st.steps->shape[0]) + " != n_envs " +
                       decimal(n));

    for (std::size_t e = 0; e < n; ++e) {
        World& w = b.worlds[e];
        w.ball().pos = Vec2{st.ball_pos(e, 0), st.ball_pos(e, 1)};
        w.ball().vel = Vec2{st.ball_vel(e, 0), st.ball_vel(e, 1)};
        for (std::size_t s = 0; s < p; ++s) {
            Disc& d = w.player(s);
            d.pos = Vec2{st.player_pos(e, s, 0), st.player_pos(e, s, 1)};
            d.vel = Vec2{st.player_vel(e, s, 0), st.player_vel(e, s, 1)};
            w.kicking[s] = false;
            w.kick_held[s] = false;
            w.kick_cooldown[s] = 0;
            w.kick_credit[s] = 0;
        }
        w.steps = st.steps ? static_cast<std::uint64_t>((*st.steps)(e)) : 0;
        w.phase = Phase::Playing;
    }
    return std::nullopt;
}

void Batch::kick_state(std::int64_t* flags, std::int64_t* cooldowns) const {
    const World& w = s_->worlds[0];
    for (std::size_t s = 0; s < s_->n_players; ++s) {
        flags[s] = w.kicking[s] ? 1 : 0;
        cooldowns[s] = w.kick_cooldown[s];
    }
}

void Batch::set_kick_rate_limit(std::int64_t min, std::int64_t cost, std::int64_t cap) {
    for (World& w : s_->worlds) {
        w.kick_rate_min = min;
        w.kick_rate_cost = cost;
        w.kick_rate_cap = cap;
    }
}

void Batch::set_player_cmask(std::int64_t mask) {
    for (World& w : s_->worlds) {
        for (std::size_t s = 0; s < s_->n_players; ++s) w.player(s).c_mask = mask;
    }
}

}  // namespace vexlo
