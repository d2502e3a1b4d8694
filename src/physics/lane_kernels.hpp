#pragma once

// Lane vectors and the contact kernels shared by the lane-parallel tick and
// the lane-parallel ball prediction; the including file sets the instruction
// set and VEXLO_LANE_WIDTH. Every expression mirrors the scalar code
// (contacts.hpp, tick.cpp) operation for operation; a branch there is a
// per-lane select here, computed for every lane and kept only where the
// scalar code would have taken it.

#include <immintrin.h>

#include <array>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <span>
#include <type_traits>
#include <vector>

#include "clear_box.hpp"
#include "contacts.hpp"
#include "lane_tick.hpp"

namespace vexlo::VEXLO_LANE_NS {
namespace {

constexpr std::size_t W = VEXLO_LANE_WIDTH;  // environments per instruction
static_assert(W <= MAX_LANES);

// Aligned explicitly: without the wide instruction set enabled for the whole
// file the compiler would give these vectors only 16-byte alignment.
using f64v = double __attribute__((vector_size(8 * W), aligned(8 * W)));
using i64v = std::int64_t __attribute__((vector_size(8 * W), aligned(8 * W)));
using u64v = std::uint64_t __attribute__((vector_size(8 * W), aligned(8 * W)));
static_assert(sizeof(f64v) / sizeof(double) == W && alignof(f64v) == 8 * W);

// Broadcasts copy the bits: adding x to a zero vector would turn -0.0 into +0.0.
#if VEXLO_LANE_WIDTH == 8
inline f64v splat(double x) { return (f64v)_mm512_set1_pd(x); }
inline i64v splat(std::int64_t x) { return (i64v)_mm512_set1_epi64(x); }
#else
inline f64v splat(double x) { return (f64v)_mm256_set1_pd(x); }
inline i64v splat(std::int64_t x) { return (i64v)_mm256_set1_epi64x(x); }
#endif
inline f64v sel(i64v m, f64v a, f64v b) { return m ? a : b; }
inline i64v sel(i64v m, i64v a, i64v b) { return m ? a : b; }
inline i64v wrapping_sub(i64v a, i64v b) { return (i64v)((u64v)a - (u64v)b); }
inline i64v wrapping_add(i64v a, std::int64_t b) { return (i64v)((u64v)a + (std::uint64_t)b); }

// Hardware gathers from absolute addresses, one per lane. The AVX-512 ones
// use the masked form with every lane on, which names the pass-through
// operand the unmasked form leaves undefined (and the compiler warns about).
#if VEXLO_LANE_WIDTH == 8
inline f64v gather_f64(i64v at) {
    return (f64v)_mm512_mask_i64gather_pd(_mm512_setzero_pd(), 0xFF, (__m512i)at, nullptr, 1);
}
inline i64v gather_i64(i64v at) {
    return (i64v)_mm512_mask_i64gather_epi64(_mm512_setzero_si512(), 0xFF, (__m512i)at, nullptr, 1);
}
#else
inline f64v gather_f64(i64v at) { return (f64v)_mm256_i64gather_pd(nullptr, (__m256i)at, 1); }
inline i64v gather_i64(i64v at) {
    return (i64v)_mm256_i64gather_epi64(nullptr, (__m256i)at, 1);
}
#endif

// A disc's position and velocity are four adjacent doubles: one 256-bit
// load per lane and a transpose give all four lane vectors, which is much
// cheaper than four gathers on processors that split gathers into many steps.
static_assert(offsetof(Disc, pos) == 0 && offsetof(Disc, vel) == 2 * sizeof(double) &&
              offsetof(Vec2, y) == sizeof(double));

struct Motion {
    f64v px, py, vx, vy;
};

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

// `discs[l]` points at lane l's disc.
inline Motion load_motion(const Disc* const (&discs)[W]) {
    const auto row = [&](std::size_t l) { return reinterpret_cast<const double*>(discs[l]); };
    Motion m;
#if VEXLO_LANE_WIDTH == 8
    __m256d lo[4], hi[4];
    transpose4(row(0), row(1), row(2), row(3), lo[0], lo[1], lo[2], lo[3]);
    transpose4(row(4), row(5), row(6), row(7), hi[0], hi[1], hi[2], hi[3]);
    const auto join = [](__m256d a, __m256d b) -> f64v {
        return __builtin_shufflevector(a, b, 0, 1, 2, 3, 4, 5, 6, 7);
    };
    m.px = join(lo[0], hi[0]), m.py = join(lo[1], hi[1]);
    m.vx = join(lo[2], hi[2]), m.vy = join(lo[3], hi[3]);
#else
    __m256d px, py, vx, vy;
    transpose4(row(0), row(1), row(2), row(3), px, py, vx, vy);
    m.px = (f64v)px, m.py = (f64v)py, m.vx = (f64v)vx, m.vy = (f64v)vy;
#endif
    return m;
}

#if VEXLO_LANE_WIDTH == 8
inline f64v vsqrt(f64v x) {
    // Masked for the same reason as the gathers.
    return (f64v)_mm512_mask_sqrt_pd((__m512d)x, 0xFF, (__m512d)x);
}
inline bool any(i64v m) { return _mm512_test_epi64_mask((__m512i)m, (__m512i)m) != 0; }
inline bool all(i64v m) { return _mm512_test_epi64_mask((__m512i)m, (__m512i)m) == 0xFF; }
#else
inline f64v vsqrt(f64v x) { return (f64v)_mm256_sqrt_pd((__m256d)x); }
inline bool any(i64v m) { return _mm256_movemask_pd((__m256d)m) != 0; }
inline bool all(i64v m) { return _mm256_movemask_pd((__m256d)m) == 0xF; }
#endif

struct DiscLanes {
    f64v px, py, vx, vy;
    f64v radius, inv_mass, damping, b_coef, gx, gy;
    i64v group, mask;
    f64v accel, kick_accel, kick_damping, kick_strength, kickback;
};

// Per-plane and per-segment values that the scalar contacts compute afresh
// every time from the stored geometry; computing them once gives the same bits.
struct PlaneConst {
    const Plane* plane;
    double ux, uy;
};
struct SegmentConst {
    const Segment* seg;
    double nx, ny;  // straight segments: the unit normal
};

template <typename T>
bool same_bytes(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// Loads every lane's discs at once. Positions, velocities and masks always
// come from each lane's own world; the fixed properties too, unless the
// caller promised uniform worlds. Lanes past `count` repeat the first world.
// Only the first `n_discs` discs are loaded.
void gather_discs(std::vector<DiscLanes>& discs, const World* const* worlds, std::size_t count,
                  bool uniform, std::size_t n_discs) {
    const World& w0 = *worlds[0];
    discs.resize(n_discs);
    i64v base;
    for (std::size_t l = 0; l < W; ++l)
        base[l] = (std::int64_t)(std::uintptr_t)worlds[l < count ? l : 0]->discs.data();
    const auto at = [&](std::size_t i, std::size_t offset) {
        return base + (std::int64_t)(i * sizeof(Disc) + offset);
    };
    constexpr std::size_t Y = offsetof(Vec2, y);
    for (std::size_t i = 0; i < n_discs; ++i) {
        DiscLanes& D = discs[i];
        const Disc* lane_disc[W];
        for (std::size_t l = 0; l < W; ++l) lane_disc[l] = &worlds[l < count ? l : 0]->discs[i];
        const Motion m = load_motion(lane_disc);
        D.px = m.px, D.py = m.py, D.vx = m.vx, D.vy = m.vy;
        for (std::size_t l = 0; l < W; ++l) D.mask[l] = lane_disc[l]->c_mask;
        if (uniform) {
            const Disc& d = w0.discs[i];
            D.radius = splat(d.radius); D.inv_mass = splat(d.inv_mass);
            D.damping = splat(d.damping); D.b_coef = splat(d.b_coef);
            D.gx = splat(d.gravity.x); D.gy = splat(d.gravity.y);
            D.group = splat(d.c_group);
            D.accel = splat(d.acceleration); D.kick_accel = splat(d.kicking_acceleration);
            D.kick_damping = splat(d.kicking_damping); D.kick_strength = splat(d.kick_strength);
            D.kickback = splat(d.kickback);
            continue;
        }
        D.radius = gather_f64(at(i, offsetof(Disc, radius)));
        D.inv_mass = gather_f64(at(i, offsetof(Disc, inv_mass)));
        D.damping = gather_f64(at(i, offsetof(Disc, damping)));
        D.b_coef = gather_f64(at(i, offsetof(Disc, b_coef)));
        D.gx = gather_f64(at(i, offsetof(Disc, gravity)));
        D.gy = gather_f64(at(i, offsetof(Disc, gravity) + Y));
        D.group = gather_i64(at(i, offsetof(Disc, c_group)));
        D.accel = gather_f64(at(i, offsetof(Disc, acceleration)));
        D.kick_accel = gather_f64(at(i, offsetof(Disc, kicking_acceleration)));
        D.kick_damping = gather_f64(at(i, offsetof(Disc, kicking_damping)));
        D.kick_strength = gather_f64(at(i, offsetof(Disc, kick_strength)));
        D.kickback = gather_f64(at(i, offsetof(Disc, kickback)));
    }
}

// A stadium's planes and segments with their per-object constants, made
// once per batch of worlds and then only read, by every thread at once. The
// constants point into the arrays of the world they were made from, which
// must outlive them and keep its geometry.
struct Walls {
    std::span<const Plane> planes;
    std::span<const Segment> segments;
    std::vector<PlaneConst> plane_consts;
    std::vector<SegmentConst> segment_consts;

    explicit Walls(const World& w) : planes(w.planes), segments(w.segments) {
        plane_consts.reserve(planes.size());
        for (const Plane& plane : planes) {
            const double q = 1.0 / std::sqrt(length_sq(plane.normal));
            plane_consts.push_back({&plane, plane.normal.x * q, plane.normal.y * q});
        }
        segment_consts.reserve(segments.size());
        for (const Segment& seg : segments) {
            const Vec2 e{seg.v1.x - seg.v0.x, seg.v1.y - seg.v0.y};
            const double len = std::sqrt(e.x * e.x + e.y * e.y);
            segment_consts.push_back({&seg, -e.y / len, e.x / len});
        }
    }

    // Whether these walls can stand for w's: the caller promises that w's
    // geometry is a copy of theirs; this catches only a different shape.
    bool fit(const World& w) const {
        return planes.size() == w.planes.size() && segments.size() == w.segments.size();
    }
};

// One thread's view of the shared walls, with the clear boxes it has found
// so far. Fixed in size: it never allocates.
struct Geometry {
    std::span<const Plane> planes;
    std::span<const Segment> segments;
    std::span<const PlaneConst> plane_consts;
    std::span<const SegmentConst> segment_consts;

    // Clear boxes found so far, per radius and pair of collision bits.
    struct KeyedBox {
        double radius;
        std::int64_t group, mask;
        ClearBox box;
    };
    std::array<KeyedBox, 16> boxes{};
    std::size_t n_boxes = 0;

    void use(const Walls& w) {
        planes = w.planes;
        segments = w.segments;
        plane_consts = w.plane_consts;
        segment_consts = w.segment_consts;
        n_boxes = 0;
    }

    // True when every lane's disc lies where it can touch no plane and no
    // segment, so that testing them all would change nothing.
    bool clear_of_walls(const DiscLanes& d) { return inside(d, box_for(d)); }

    const KeyedBox& box_for(const DiscLanes& d) { return box_for(d.radius[0], d.group[0], d.mask[0]); }

    static bool inside(const DiscLanes& d, const KeyedBox& k) {
        if (k.box.empty()) return false;
        const i64v inside = (d.px > k.box.x0) & (d.px < k.box.x1) & (d.py > k.box.y0) &
                            (d.py < k.box.y1) & (d.radius == k.radius) & (d.group == k.group) &
                            (d.mask == k.mask);
        return all(inside);
    }

    const KeyedBox& box_for(double radius, std::int64_t group, std::int64_t mask) {
        for (std::size_t i = 0; i < n_boxes; ++i) {
            const KeyedBox& k = boxes[i];
            if (k.radius == radius && k.group == group && k.mask == mask) return k;
        }
        // Masks change at kickoffs and goals, so only a handful of keys recur.
        if (n_boxes == boxes.size()) n_boxes = 0;
        boxes[n_boxes] = {radius, group, mask, find_clear_box(planes, segments, radius, group, mask)};
        return boxes[n_boxes++];
    }
};

inline i64v collides(i64v group_a, i64v mask_a, i64v group_b, i64v mask_b) {
    return ((mask_a & group_b) != 0) & ((group_a & mask_b) != 0);
}

// a + b, with a's NaN where both are NaNs, as the scalar motion (vec2.hpp).
inline f64v add_first_nan(f64v a, f64v b) { return sel(a != a, a + a, a + b); }

inline void integrate(DiscLanes& d, f64v damping) {
    d.px = add_first_nan(d.px, d.vx);
    d.py = add_first_nan(d.py, d.vy);
    d.vx = (d.vx + d.gx) * damping;
    d.vy = (d.vy + d.gy) * damping;
}

// `active` leaves out lanes where the pair is not resolved at all. With
// `MoveB` false, `b` is an obstacle whose own response would be thrown away,
// so it is left as it is; `a` comes out the same either way.
template <bool MoveB = true>
void disc_disc(DiscLanes& a, std::conditional_t<MoveB, DiscLanes&, const DiscLanes&> b, i64v active) {
    const i64v touching = active & collides(a.group, a.mask, b.group, b.mask);
    if (!any(touching)) return;
    const f64v dx = a.px - b.px, dy = a.py - b.py;
    const f64v sq = dx * dx + dy * dy;
    const f64v r = a.radius + b.radius;
    const i64v contact = touching & (sq > 0.0) & (sq <= r * r) &
                         ~((a.inv_mass == 0.0) & (b.inv_mass == 0.0));
    if (!any(contact)) return;
    const f64v dist = vsqrt(sq);
    const f64v nx = dx / dist, ny = dy / dist;
    const f64v k = a.inv_mass / (b.inv_mass + a.inv_mass);
    const f64v overlap = r - dist;
    const f64v shift_a = overlap * k;
    const f64v shift_b = overlap - shift_a;
    a.px = sel(contact, a.px + nx * shift_a, a.px);
    a.py = sel(contact, a.py + ny * shift_a, a.py);
    if constexpr (MoveB) {
        b.px = sel(contact, b.px - nx * shift_b, b.px);
        b.py = sel(contact, b.py - ny * shift_b, b.py);
    }
    const f64v rel = (a.vx - b.vx) * nx + (a.vy - b.vy) * ny;
    const i64v bounce = contact & (rel < 0.0);
    if (!any(bounce)) return;
    const f64v rr = (a.b_coef * b.b_coef + 1.0) * rel;
    const f64v imp_a = rr * k;
    const f64v imp_b = rr - imp_a;
    a.vx = sel(bounce, a.vx - nx * imp_a, a.vx);
    a.vy = sel(bounce, a.vy - ny * imp_a, a.vy);
    if constexpr (MoveB) {
        b.vx = sel(bounce, b.vx + nx * imp_b, b.vx);
        b.vy = sel(bounce, b.vy + ny * imp_b, b.vy);
    }
}

void disc_plane(DiscLanes& d, i64v movable, const PlaneConst& pc) {
    const Plane& plane = *pc.plane;
    const i64v touching = movable & collides(d.group, d.mask, splat(plane.c_group), splat(plane.c_mask));
    if (!any(touching)) return;
    const f64v pen = d.radius + (plane.dist - (d.px * pc.ux + d.py * pc.uy));
    const i64v contact = touching & (pen > 0.0);
    if (!any(contact)) return;
    d.px = sel(contact, d.px + pc.ux * pen, d.px);
    d.py = sel(contact, d.py + pc.uy * pen, d.py);
    const f64v vn = d.vx * pc.ux + d.vy * pc.uy;
    const i64v bounce = contact & (vn < 0.0);
    const f64v f = -((d.b_coef * plane.b_coef + 1.0) * vn);
    d.vx = sel(bounce, d.vx + plane.normal.x * f, d.vx);
    d.vy = sel(bounce, d.vy + plane.normal.y * f, d.vy);
}

// Side, bias and contact step after either geometry, as segment_response.
void segment_response(DiscLanes& d, const Segment& seg, i64v valid, f64v g, f64v nx, f64v ny) {
    double h = 0.0;
    if (seg.bias == 0.0) {
        const i64v flip = g < 0.0;
        g = sel(flip, -g, g);
        nx = sel(flip, -nx, nx);
        ny = sel(flip, -ny, ny);
    } else if (seg.bias < 0.0) {
        g = -g;
        nx = -nx;
        ny = -ny;
        h = -seg.bias;
    } else {
        h = seg.bias;
    }
    const i64v contact = valid & ~(g < -h) & (g < d.radius);
    if (!any(contact)) return;
    const f64v push = d.radius - g;
    d.px = sel(contact, d.px + nx * push, d.px);
    d.py = sel(contact, d.py + ny * push, d.py);
    const f64v vn = nx * d.vx + ny * d.vy;
    const i64v bounce = contact & (vn < 0.0);
    const f64v f = -((d.b_coef * seg.b_coef + 1.0) * vn);
    d.vx = sel(bounce, d.vx + nx * f, d.vx);
    d.vy = sel(bounce, d.vy + ny * f, d.vy);
}

void disc_segment(DiscLanes& d, i64v movable, const SegmentConst& sc) {
    const Segment& seg = *sc.seg;
    const i64v touching = movable & collides(d.group, d.mask, splat(seg.c_group), splat(seg.c_mask));
    if (!any(touching)) return;
    if (seg.curve_f != 0.0) {
        const f64v wx = d.px - seg.center.x, wy = d.py - seg.center.y;
        const f64v a = wx * seg.t0.x + wy * seg.t0.y;
        const f64v b = wx * seg.t1.x + wy * seg.t1.y;
        const i64v a_pos = a > 0.0;
        const i64v in_sector =
            seg.curve_f < 0.0 ? ~(a_pos & (b > 0.0)) : (a_pos & (b > 0.0));
        const f64v sq = wx * wx + wy * wy;
        const i64v valid = touching & in_sector & (sq > 0.0);
        if (!any(valid)) return;
        const f64v len = vsqrt(sq);
        segment_response(d, seg, valid, len - seg.arc_radius, wx / len, wy / len);
        return;
    }
    const double ex = seg.v1.x - seg.v0.x, ey = seg.v1.y - seg.v0.y;
    const i64v valid = touching & (((d.px - seg.v0.x) * ex + (d.py - seg.v0.y) * ey) > 0.0) &
                       ((ex * (d.px - seg.v1.x) + ey * (d.py - seg.v1.y)) < 0.0);
    if (!any(valid)) return;
    const f64v g = (d.px - seg.v1.x) * sc.nx + (d.py - seg.v1.y) * sc.ny;
    segment_response(d, seg, valid, g, splat(sc.nx), splat(sc.ny));
}

}  // namespace
}  // namespace vexlo::VEXLO_LANE_NS
