#pragma once

// Eight-lane vectors and the AVX-512 instructions behind them. Included by
// avx512.cpp after its target switch, before the rest of the lane code.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace vexlo::lanes {
namespace {
constexpr std::size_t W = 8;  // environments per instruction
}  // namespace
}  // namespace vexlo::lanes

#include "lanes/lane_vectors.hpp"
#include "lanes/motion_rows.hpp"
#include "physics/contact_response.hpp"

namespace vexlo::lanes {
namespace {

// Broadcasts copy the bits: adding x to a zero vector would turn -0.0 into +0.0.
inline f64v splat(double x) { return (f64v)_mm512_set1_pd(x); }
inline i64v splat(std::int64_t x) { return (i64v)_mm512_set1_epi64(x); }

// Hardware gathers from absolute addresses, one per lane. They use the
// masked form with every lane on, which names the pass-through operand the
// unmasked form leaves undefined (and the compiler warns about).
inline f64v gather_f64(i64v at) {
    return (f64v)_mm512_mask_i64gather_pd(_mm512_setzero_pd(), 0xFF, (__m512i)at, nullptr, 1);
}
inline i64v gather_i64(i64v at) {
    return (i64v)_mm512_mask_i64gather_epi64(_mm512_setzero_si512(), 0xFF, (__m512i)at, nullptr, 1);
}

// Masked for the same reason as the gathers.
inline f64v vsqrt(f64v x) { return (f64v)_mm512_mask_sqrt_pd((__m512d)x, 0xFF, (__m512d)x); }
inline bool any(i64v m) { return _mm512_test_epi64_mask((__m512i)m, (__m512i)m) != 0; }
inline bool all(i64v m) { return _mm512_test_epi64_mask((__m512i)m, (__m512i)m) == 0xFF; }

// Position and velocity of `discs[l]` in lane l: two four-lane transposes
// joined.
inline void load_motion(const Disc* const (&discs)[W], f64v& px, f64v& py, f64v& vx, f64v& vy) {
    __m256d lo[4], hi[4];
    transpose4(motion_row(discs[0]), motion_row(discs[1]), motion_row(discs[2]),
               motion_row(discs[3]), lo[0], lo[1], lo[2], lo[3]);
    transpose4(motion_row(discs[4]), motion_row(discs[5]), motion_row(discs[6]),
               motion_row(discs[7]), hi[0], hi[1], hi[2], hi[3]);
    const auto join = [](__m256d a, __m256d b) -> f64v {
        return __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7);
    };
    px = join(lo[0], hi[0]), py = join(lo[1], hi[1]);
    vx = join(lo[2], hi[2]), vy = join(lo[3], hi[3]);
}

}  // namespace
}  // namespace vexlo::lanes

namespace vexlo {
// The early exits of the shared contact response.
template <>
inline bool any_lane(lanes::i64v m) {
    return lanes::any(m);
}
}  // namespace vexlo
