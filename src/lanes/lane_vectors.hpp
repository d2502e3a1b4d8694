#pragma once

// Lane vectors: W doubles or 64-bit integers, one environment per lane, and
// the operations on them that every instruction set shares. Part of the lane
// code that vectors_avx2.hpp and vectors_avx512.hpp compile once per
// instruction set (see avx2.cpp): the including header sets W first, and
// everything sits in an unnamed namespace, so each instruction set's copy
// stays inside its own file.

#include <cstddef>
#include <cstdint>

#include "lanes/lane_run.hpp"

namespace vexlo::lanes {
namespace {

static_assert(W <= MAX_LANES);

// Aligned explicitly: without the wide instruction set enabled for the whole
// file the compiler would give these vectors only 16-byte alignment.
using f64v = double __attribute__((vector_size(8 * W), aligned(8 * W)));
using i64v = std::int64_t __attribute__((vector_size(8 * W), aligned(8 * W)));
using u64v = std::uint64_t __attribute__((vector_size(8 * W), aligned(8 * W)));
static_assert(sizeof(f64v) / sizeof(double) == W && alignof(f64v) == 8 * W);

inline f64v sel(i64v m, f64v a, f64v b) { return m ? a : b; }
inline i64v sel(i64v m, i64v a, i64v b) { return m ? a : b; }
inline i64v wrapping_sub(i64v a, i64v b) { return (i64v)((u64v)a - (u64v)b); }
inline i64v wrapping_add(i64v a, std::int64_t b) { return (i64v)((u64v)a + (std::uint64_t)b); }

// a + b, with a's NaN where both are NaNs, as the scalar motion (vec2.hpp).
inline f64v add_first_nan(f64v a, f64v b) { return sel(a != a, a + a, a + b); }

inline i64v collides(i64v group_a, i64v mask_a, i64v group_b, i64v mask_b) {
    return ((mask_a & group_b) != 0) & ((group_a & mask_b) != 0);
}

}  // namespace
}  // namespace vexlo::lanes
