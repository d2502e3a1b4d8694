#pragma once

// The default team observation, W environments per instruction: each
// operation of the scalar rows (batch/team_observation.cpp) as one vector
// operation, in the same order, with the special-case rules as blends. Part
// of the lane code compiled once per instruction set (see lane_vectors.hpp).

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "lanes/team_rows.hpp"

namespace vexlo::lanes {
namespace {

using f32v = float __attribute__((vector_size(4 * W)));
using f32pairs = float __attribute__((vector_size(8 * W)));  // (re, im) of each lane in turn

// A complex128 value of the NumPy builder per lane.
struct ComplexLanes {
    f64v re;
    f64v im;
};

// A frame factor in every lane, and whether it is zero (for the underflow rule).
struct Factor {
    f64v lanes;
    bool nonzero;
};

// The scalar times_real lane by lane: (a + bi)(c + 0i) with its terms by
// zero, the real part's sign when ac underflows, and a's NaN before b's
// before the one inf * 0 makes in the imaginary part.
inline ComplexLanes times_real(ComplexLanes z, Factor c) {
    const f64v d = splat(0.0);
    const f64v ac = z.re * c.lanes, bd = z.im * d, ad = z.re * d, bc = z.im * c.lanes;
    ComplexLanes product{ac - bd, ad + bc};
    // Both rules are rare: one test of every lane skips them together.
    const i64v underflow = (ac == 0.0) & (z.re != 0.0), nan_im = product.im != product.im;
    if (!any(underflow | nan_im)) return product;
    if (c.nonzero) product.re = sel(underflow & (bd == bd), ac, product.re);
    const f64v first_nan = sel(z.re != z.re, ad, sel(z.im != z.im, bc, product.im));
    product.im = sel(nan_im, first_nan, product.im);
    return product;
}

inline ComplexLanes minus(ComplexLanes a, ComplexLanes b) { return {a.re - b.re, a.im - b.im}; }

// W lanes from W / 4 four-lane quarters, and back. Templates, so that only
// the branch of this file's width is compiled.
template <class Quarter>
inline f64v join(const Quarter (&q)[W / 4]) {
    if constexpr (W == 4)
        return (f64v)q[0];
    else
        return __builtin_shufflevector(q[0], q[1], 0, 1, 2, 3, 4, 5, 6, 7);
}
template <std::size_t Q, class Lanes>
inline __m256d quarter(Lanes v) {
    if constexpr (W == 4)
        return (__m256d)v;
    else if constexpr (Q == 0)
        return (__m256d)__builtin_shufflevector(v, v, 0, 1, 2, 3);
    else
        return (__m256d)__builtin_shufflevector(v, v, 4, 5, 6, 7);
}

// One (N, ..., 2) array as the loop reads it. Copied out of the views: the
// compiler would otherwise reload every stride after each store to the rows,
// which might alias them as far as it knows.
struct Field {
    const char* data;
    std::ptrdiff_t env_step;       // bytes from one environment to the next
    std::ptrdiff_t lane_step[W];   // l * env_step
    std::ptrdiff_t inner_step;     // bytes from one slot to the next (if any)
    std::ptrdiff_t y_step;         // bytes from x to y
};

template <int Rank>
Field field(const StridedView<double, Rank>& v) {
    Field f{static_cast<const char*>(v.data), v.strides[0], {}, Rank == 3 ? v.strides[1] : 0,
            v.strides[Rank - 1]};
    for (std::size_t l = 0; l < W; ++l) f.lane_step[l] = static_cast<std::ptrdiff_t>(l) * f.env_step;
    return f;
}

// Lane l's (x, y) at f.data + (first + l) * f.env_step + at: with x and y
// Adjacent, one 128-bit load per lane, the even lanes of each four unpacked
// from [x0 y0 x2 y2] and the odd ones' like; else by gathers.
template <bool Adjacent>
inline ComplexLanes load(const Field& f, std::size_t first, std::ptrdiff_t at) {
    const char* base = f.data + static_cast<std::ptrdiff_t>(first) * f.env_step + at;
    if constexpr (!Adjacent) {
        i64v x_at;
        std::memcpy(&x_at, f.lane_step, sizeof x_at);
        x_at = wrapping_add(x_at, reinterpret_cast<std::intptr_t>(base));
        return {gather_f64(x_at), gather_f64(wrapping_add(x_at, f.y_step))};
    }
    const auto pair = [&](std::size_t l) {
        return _mm_loadu_pd(reinterpret_cast<const double*>(base + f.lane_step[l]));
    };
    __m256d x[W / 4], y[W / 4];
    for (std::size_t q = 0; q < W / 4; ++q) {
        const __m256d even = _mm256_set_m128d(pair(4 * q + 2), pair(4 * q));
        const __m256d odd = _mm256_set_m128d(pair(4 * q + 3), pair(4 * q + 1));
        x[q] = _mm256_unpacklo_pd(even, odd);
        y[q] = _mm256_unpackhi_pd(even, odd);
    }
    return {join(x), join(y)};
}

// A template for the same reason as join.
template <class Floats>
inline f32pairs interleave(Floats re, Floats im) {
    if constexpr (W == 4)
        return __builtin_shufflevector(re, im, 0, 4, 1, 5, 2, 6, 3, 7);
    else
        return __builtin_shufflevector(re, im, 0, 8, 1, 9, 2, 10, 3, 11, 4, 12, 5, 13, 6, 14, 7, 15);
}

// The rows of W consecutive environments, written four (re, im) pairs at a
// time: four columns of pairs transposed into one 32-byte store per row.
template <bool Mirror>
struct RowLanes {
    float* row0;        // lane 0's row; lane l's is `width` floats further per lane
    std::size_t width;  // floats per row
    std::size_t at = 0;
    u64v pending[4];    // columns not yet stored, one pair per lane
    std::size_t n_pending = 0;

    // Leaves `pending` as it is: clearing it for every group costs more than
    // the rest of a short row.
    RowLanes(float* first_row, std::size_t floats_per_row) : row0(first_row), width(floats_per_row) {}

    // As the scalar rows: the conjugation in double, then the one rounding
    // to float.
    void put(ComplexLanes z) {
        const f32v re = __builtin_convertvector(z.re, f32v);
        const f32v im = __builtin_convertvector(Mirror ? -z.im : z.im, f32v);
        pending[n_pending++] = (u64v)interleave(re, im);
        if (n_pending == 4) store_four();
    }

    void store_four() {
        store_quarter<0>();
        if constexpr (W == 8) store_quarter<1>();
        at += 8;
        n_pending = 0;
    }

    template <std::size_t Q>
    void store_quarter() {
        const __m256d c0 = quarter<Q>(pending[0]), c1 = quarter<Q>(pending[1]);
        const __m256d c2 = quarter<Q>(pending[2]), c3 = quarter<Q>(pending[3]);
        const __m256d a = _mm256_unpacklo_pd(c0, c1), b = _mm256_unpackhi_pd(c0, c1);
        const __m256d c = _mm256_unpacklo_pd(c2, c3), d = _mm256_unpackhi_pd(c2, c3);
        const __m256d rows[4] = {_mm256_permute2f128_pd(a, c, 0x20), _mm256_permute2f128_pd(b, d, 0x20),
                                 _mm256_permute2f128_pd(a, c, 0x31), _mm256_permute2f128_pd(b, d, 0x31)};
        for (std::size_t l = 0; l < 4; ++l)
            _mm256_storeu_pd(reinterpret_cast<double*>(row0 + (4 * Q + l) * width + at), rows[l]);
    }

    // The last columns of the rows, fewer than four, a pair at a time.
    void finish() {
        for (std::size_t c = 0; c < n_pending; ++c) {
            for (std::size_t l = 0; l < W; ++l) {
                const std::uint64_t pair = pending[c][l];
                std::memcpy(row0 + l * width + at, &pair, sizeof pair);
            }
            at += 2;
        }
    }
};

template <bool Mirror, bool Adjacent>
std::size_t team_rows(const TeamRowsJob& job) {
    const TeamFrame& frame = *job.frame;
    const Field ball_pos = field(job.state->ball_pos), ball_vel = field(job.state->ball_vel);
    const Field player_pos = field(job.state->player_pos), player_vel = field(job.state->player_vel);
    const auto k_steps = static_cast<std::ptrdiff_t>(job.k), xy = static_cast<std::ptrdiff_t>(sizeof(double));
    const Field ahead = field(StridedView<double, 3>{
        job.ahead, {static_cast<std::ptrdiff_t>(job.end), k_steps, 2}, {2 * k_steps * xy, 2 * xy, xy}});
    const std::uint64_t* slots = frame.slots.data();
    const std::size_t n_slots = frame.slots.size(), k = job.k, end = job.end;
    const Factor pos_mul{splat(frame.pos_mul), frame.pos_mul != 0.0};
    const Factor vel_mul{splat(frame.vel_mul), frame.vel_mul != 0.0};
    const ComplexLanes pos_off{splat(frame.pos_off.x), splat(frame.pos_off.y)};
    const ComplexLanes goal{splat(frame.opp_goal.x), splat(frame.opp_goal.y)};
    const auto position = [&](ComplexLanes z) { return minus(times_real(z, pos_mul), pos_off); };
    const std::size_t width = Batch::team_observation_width(n_slots, k);
    float* const out = job.out;

    std::size_t first = job.begin;
    for (; first + W <= end; first += W) {
        RowLanes<Mirror> row{out + first * width, width};
        const ComplexLanes ball = position(load<Adjacent>(ball_pos, first, 0));
        row.put(ball);
        row.put(times_real(load<Adjacent>(ball_vel, first, 0), vel_mul));
        ComplexLanes viewer{};
        for (std::size_t i = 0; i < n_slots; ++i) {
            const auto slot = static_cast<std::ptrdiff_t>(slots[i]);
            const ComplexLanes pos = position(load<Adjacent>(player_pos, first, slot * player_pos.inner_step));
            if (i == 0) viewer = pos;
            row.put(pos);
            row.put(times_real(load<Adjacent>(player_vel, first, slot * player_vel.inner_step), vel_mul));
        }
        row.put(minus(ball, viewer));
        row.put(minus(goal, ball));
        for (std::size_t j = 0; j < k; ++j)
            row.put(position(load<Adjacent>(ahead, first, static_cast<std::ptrdiff_t>(j) * ahead.inner_step)));
        row.finish();
    }
    return first;
}

template <bool Mirror>
std::size_t team_rows(const TeamRowsJob& job) {
    const BatchStateView& st = *job.state;
    constexpr auto adjacent = static_cast<std::ptrdiff_t>(sizeof(double));
    if (st.ball_pos.strides[1] == adjacent && st.ball_vel.strides[1] == adjacent &&
        st.player_pos.strides[2] == adjacent && st.player_vel.strides[2] == adjacent)
        return team_rows<Mirror, true>(job);
    return team_rows<Mirror, false>(job);
}

std::size_t write_team_rows(const TeamRowsJob& job) {
    // A product of two NaNs passes on the one the compiler put first, which
    // the scalar code does not fix; with other factors no two NaNs meet where
    // a blend or a subtraction does not fix their order.
    const TeamFrame& frame = *job.frame;
    if (frame.pos_mul != frame.pos_mul || frame.vel_mul != frame.vel_mul) return job.begin;
    return frame.mirror ? team_rows<true>(job) : team_rows<false>(job);
}

}  // namespace
}  // namespace vexlo::lanes
