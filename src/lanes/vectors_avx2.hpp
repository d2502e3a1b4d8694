#pragma once

// Four-lane vectors and the AVX2 instructions behind them. Included by
// avx2.cpp after its target switch, before the rest of the lane code.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

namespace vexlo::lanes {
namespace {
constexpr std::size_t W = 4;  // environments per instruction
}  // namespace
}  // namespace vexlo::lanes

#include "lanes/lane_vectors.hpp"
#include "lanes/motion_rows.hpp"
#include "physics/contact_response.hpp"

namespace vexlo::lanes {
namespace {

// Broadcasts copy the bits: adding x to a zero vector would turn -0.0 into +0.0.
inline f64v splat(double x) { return (f64v)_mm256_set1_pd(x); }
inline i64v splat(std::int64_t x) { return (i64v)_mm256_set1_epi64x(x); }

// Hardware gathers from absolute addresses, one per lane.
inline f64v gather_f64(i64v at) { return (f64v)_mm256_i64gather_pd(nullptr, (__m256i)at, 1); }
inline i64v gather_i64(i64v at) {
    return (i64v)_mm256_i64gather_epi64(nullptr, (__m256i)at, 1);
}

inline f64v vsqrt(f64v x) { return (f64v)_mm256_sqrt_pd((__m256d)x); }
inline bool any(i64v m) { return _mm256_movemask_pd((__m256d)m) != 0; }
inline bool all(i64v m) { return _mm256_movemask_pd((__m256d)m) == 0xF; }

// Position and velocity of `discs[l]` in lane l.
inline void load_motion(const Disc* const (&discs)[W], f64v& px, f64v& py, f64v& vx, f64v& vy) {
    __m256d x, y, u, v;
    transpose4(motion_row(discs[0]), motion_row(discs[1]), motion_row(discs[2]),
               motion_row(discs[3]), x, y, u, v);
    px = (f64v)x, py = (f64v)y, vx = (f64v)u, vy = (f64v)v;
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
