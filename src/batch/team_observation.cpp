// Batch::team_observation: the default observation of one team, every
// environment in one pass.
#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

#include "batch/state.hpp"

namespace vexlo {
namespace {

// A complex128 value of the NumPy builder.
struct Complex {
    double re;
    double im;
};

// NumPy's complex product (a + bi)(c + di) = (ac - bd) + (ad + bc)i with
// d = 0: the terms by zero stay, as they decide signs of zero and turn
// infinities into NaN. Two details of its loops (vectorised with fused
// multiply-adds) are kept as well:
// - the real part is fma(a, c, -bd): when ac underflows to zero, its zero
//   keeps the sign of the exact product instead of taking the sum's;
// - with a NaN among a and b, both parts are that operand (a before b),
//   never a NaN made by inf * 0; a plain sum would leave that choice to the
//   order of its operands, which the compiler may swap.
Complex times_real(Complex z, double c) {
    constexpr double d = 0.0;
    if (std::isnan(z.re)) return {z.re * c, z.re * c};
    if (std::isnan(z.im)) return {z.im * c, z.im * c};
    const double ac = z.re * c;
    // fma(a, c, -bd) with bd a zero: ac itself unless the exact product is zero.
    const bool fused_is_ac = z.re != 0.0 && c != 0.0 && std::isfinite(z.im);
    return {fused_is_ac ? ac : ac - z.im * d, z.re * d + z.im * c};
}

Complex minus(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }

struct RowWriter {
    const TeamFrame& frame;
    Complex pos_off;
    float* at;

    Complex position(double x, double y) const {
        return minus(times_real({x, y}, frame.pos_mul), pos_off);
    }
    Complex velocity(double x, double y) const { return times_real({x, y}, frame.vel_mul); }
    // The conjugation is NumPy's, in double, before the one rounding to float.
    void put(Complex z) {
        *at++ = static_cast<float>(z.re);
        *at++ = static_cast<float>(frame.mirror ? -z.im : z.im);
    }
};

bool has_shape(std::ptrdiff_t got0, std::ptrdiff_t got1, std::size_t want0, std::size_t want1) {
    return static_cast<std::size_t>(got0) == want0 && static_cast<std::size_t>(got1) == want1;
}

}  // namespace

std::size_t Batch::team_observation_width(std::size_t n_slots, std::size_t n_offsets) {
    return 4 * n_slots + 8 + 2 * n_offsets;
}

BatchStatus Batch::team_observation(const BatchStateView& st, const TeamFrame& frame,
                                    std::vector<std::uint64_t> offsets, float* out,
                                    bool& finished, StopCheck stop) const {
    const std::size_t n = s_->worlds.size();
    const std::size_t p = s_->n_players;
    finished = false;
    if (!has_shape(st.ball_pos.shape[0], st.ball_pos.shape[1], n, 2) ||
        !has_shape(st.ball_vel.shape[0], st.ball_vel.shape[1], n, 2))
        return invalid("team_observation: ball_pos " + shape_text(st.ball_pos) + " / ball_vel " +
                       shape_text(st.ball_vel) + " must both be (n_envs=" + decimal(n) + ", 2)");
    for (const StridedView<double, 3>* a : {&st.player_pos, &st.player_vel}) {
        if (!has_shape(a->shape[0], a->shape[1], n, p) || a->shape[2] != 2)
            return invalid("team_observation: player_pos " + shape_text(st.player_pos) +
                           " / player_vel " + shape_text(st.player_vel) +
                           " must both be (n_envs=" + decimal(n) + ", n_players=" + decimal(p) +
                           ", 2)");
    }
    if (frame.slots.empty()) return invalid("team_observation: slots must name the viewer");
    for (std::uint64_t slot : frame.slots) {
        if (slot >= p)
            return invalid("team_observation: slot " + decimal(slot) + " is not below n_players " +
                           decimal(p));
    }

    const std::size_t k = offsets.size();
    std::vector<double> ahead(n * k * 2);
    if (k > 0 && !predict(std::move(offsets), ahead.data(), stop)) return std::nullopt;
    finished = true;

    const Complex pos_off{frame.pos_off.x, frame.pos_off.y};
    const Complex goal{frame.opp_goal.x, frame.opp_goal.y};
    RowWriter row{frame, pos_off, out};
    for (std::size_t e = 0; e < n; ++e) {
        const Complex ball = row.position(st.ball_pos(e, 0), st.ball_pos(e, 1));
        row.put(ball);
        row.put(row.velocity(st.ball_vel(e, 0), st.ball_vel(e, 1)));
        Complex viewer{};
        for (std::size_t i = 0; i < frame.slots.size(); ++i) {
            const std::uint64_t s = frame.slots[i];
            const Complex pos = row.position(st.player_pos(e, s, 0), st.player_pos(e, s, 1));
            if (i == 0) viewer = pos;
            row.put(pos);
            row.put(row.velocity(st.player_vel(e, s, 0), st.player_vel(e, s, 1)));
        }
        row.put(minus(ball, viewer));
        row.put(minus(goal, ball));
        for (std::size_t j = 0; j < k; ++j) {
            const double* xy = &ahead[2 * (e * k + j)];
            row.put(row.position(xy[0], xy[1]));
        }
    }
    return std::nullopt;
}

}  // namespace vexlo
