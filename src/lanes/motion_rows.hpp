#pragma once

// A disc's position and velocity are four adjacent doubles: one 256-bit load
// per lane and a transpose give all four lane vectors, which is much cheaper
// than four gathers on processors that split gathers into many steps. Part
// of the lane code compiled once per instruction set (see lane_vectors.hpp).

#include <immintrin.h>

#include <cstddef>

#include "vexlo/world.hpp"

namespace vexlo::lanes {
namespace {

static_assert(offsetof(Disc, pos) == 0 && offsetof(Disc, vel) == 2 * sizeof(double) &&
              offsetof(Vec2, y) == sizeof(double));

// Four discs' rows (pos.x, pos.y, vel.x, vel.y) as four 4-lane vectors.
inline void transpose4(const double* r0, const double* r1, const double* r2, const double* r3,
                       __m256d& px, __m256d& py, __m256d& vx, __m256d& vy) {
    const __m256d a = _mm256_loadu_pd(r0), b = _mm256_loadu_pd(r1);
    const __m256d c = _mm256_loadu_pd(r2), d = _mm256_loadu_pd(r3);
    const __m256d x_ab = _mm256_unpacklo_pd(a, b), y_ab = _mm256_unpackhi_pd(a, b);
    const __m256d x_cd = _mm256_unpacklo_pd(c, d), y_cd = _mm256_unpackhi_pd(c, d);
    px = _mm256_permute2f128_pd(x_ab, x_cd, 0x20);
    vx = _mm256_permute2f128_pd(x_ab, x_cd, 0x31);
    py = _mm256_permute2f128_pd(y_ab, y_cd, 0x20);
    vy = _mm256_permute2f128_pd(y_ab, y_cd, 0x31);
}

inline const double* motion_row(const Disc* disc) { return reinterpret_cast<const double*>(disc); }

}  // namespace
}  // namespace vexlo::lanes
