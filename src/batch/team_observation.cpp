// Batch::team_observation: the default observation of one team, every
// environment in one pass.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "batch/state.hpp"
#include "batch/team_rows.hpp"
#include "batch/worker_pool.hpp"
#include "lanes/instruction_sets.hpp"
#include "lanes/team_rows.hpp"

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
//   keeps the sign of the exact product instead of taking the difference's;
// - of two NaNs in the imaginary sum it passes on a's before b's, and either
//   before the NaN that inf * 0 makes; a plain sum leaves that choice to the
//   order of its operands, which the compiler may swap.
// Both are rare, so each costs one well-predicted test. The vector rows
// (lanes/team_row_lanes.hpp) take the same steps as blends: change both together.
Complex times_real(Complex z, double c) {
    constexpr double d = 0.0;
    const double ac = z.re * c, bd = z.im * d, ad = z.re * d, bc = z.im * c;
    Complex product{ac - bd, ad + bc};
    if (ac == 0.0 && z.re != 0.0 && c != 0.0 && !std::isnan(bd)) product.re = ac;
    if (std::isnan(product.im)) product.im = std::isnan(z.re) ? ad : std::isnan(z.im) ? bc : product.im;
    return product;
}

Complex minus(Complex a, Complex b) { return {a.re - b.re, a.im - b.im}; }

template <bool Mirror>
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
        *at++ = static_cast<float>(Mirror ? -z.im : z.im);
    }
};

template <bool Mirror>
void write_rows(const BatchStateView& st, const TeamFrame& frame, const double* ahead,
                std::size_t k, std::size_t begin, std::size_t end, float* out) {
    const std::size_t width = Batch::team_observation_width(frame.slots.size(), k);
    const Complex goal{frame.opp_goal.x, frame.opp_goal.y};
    RowWriter<Mirror> row{frame, {frame.pos_off.x, frame.pos_off.y}, out + begin * width};
    for (std::size_t e = begin; e < end; ++e) {
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
            const double* xy = ahead + 2 * (e * k + j);
            row.put(row.position(xy[0], xy[1]));
        }
    }
}

bool has_shape(std::ptrdiff_t got0, std::ptrdiff_t got1, std::size_t want0, std::size_t want1) {
    return static_cast<std::size_t>(got0) == want0 && static_cast<std::size_t>(got1) == want1;
}

}  // namespace

void write_team_rows(const BatchStateView& state, const TeamFrame& frame, const double* ahead,
                     std::size_t k, std::size_t begin, std::size_t end, float* out) noexcept {
    const std::size_t rest = write_team_rows_in_lanes({&state, &frame, ahead, k, begin, end, out});
    write_scalar_team_rows(state, frame, ahead, k, rest, end, out);
}

void write_scalar_team_rows(const BatchStateView& state, const TeamFrame& frame,
                            const double* ahead, std::size_t k, std::size_t begin,
                            std::size_t end, float* out) noexcept {
    if (frame.mirror)
        write_rows<true>(state, frame, ahead, k, begin, end, out);
    else
        write_rows<false>(state, frame, ahead, k, begin, end, out);
}

BatchStatus check_team_frame(const char* call, const TeamFrame& frame, std::size_t n_players) {
    if (frame.slots.empty()) return invalid(std::string(call) + ": slots must name the viewer");
    for (std::uint64_t slot : frame.slots) {
        if (slot >= n_players)
            return invalid(std::string(call) + ": slot " + decimal(slot) +
                           " is not below n_players " + decimal(n_players));
    }
    return std::nullopt;
}

BatchStatus Batch::team_observation(const BatchStateView& state, const TeamFrame& frame,
                                    std::vector<std::uint64_t> offsets, float* out,
                                    bool& finished, StopCheck stop) const {
    const std::size_t n = s_->worlds.size();
    const std::size_t p = s_->n_players;
    finished = false;
    if (!has_shape(state.ball_pos.shape[0], state.ball_pos.shape[1], n, 2) ||
        !has_shape(state.ball_vel.shape[0], state.ball_vel.shape[1], n, 2))
        return invalid("team_observation: ball_pos " + shape_text(state.ball_pos) + " / ball_vel " +
                       shape_text(state.ball_vel) + " must both be (n_envs=" + decimal(n) + ", 2)");
    for (const StridedView<double, 3>* a : {&state.player_pos, &state.player_vel}) {
        if (!has_shape(a->shape[0], a->shape[1], n, p) || a->shape[2] != 2)
            return invalid("team_observation: player_pos " + shape_text(state.player_pos) +
                           " / player_vel " + shape_text(state.player_vel) +
                           " must both be (n_envs=" + decimal(n) + ", n_players=" + decimal(p) +
                           ", 2)");
    }
    if (BatchStatus refused = check_team_frame("team_observation", frame, p)) return refused;

    const std::size_t k = offsets.size();
    std::vector<double> ahead(n * k * 2);
    if (k > 0 && !predict(std::move(offsets), ahead.data(), stop)) return std::nullopt;
    finished = true;

    write_rows_on_pool(state, frame, ahead.data(), k, n, out);
    return std::nullopt;
}

}  // namespace vexlo
