#pragma once

// The stadium's walls as the lanes test them: per-wall constants made once
// per batch of worlds (Walls), and each thread's view of them with the clear
// boxes it has found so far (WallCache). Part of the lane code compiled once
// per instruction set (see lane_vectors.hpp).

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "physics/clear_box.hpp"
#include "vexlo/world.hpp"

namespace vexlo::lanes {
namespace {

// Per-plane and per-segment values that the scalar contacts compute afresh
// every time from the stored geometry; computing them once gives the same bits.
struct PlaneConst {
    const Plane* plane;
    double ux, uy;  // the unit normal
};
struct SegmentConst {
    const Segment* seg;
    double nx, ny;  // straight segments: the unit normal
};

// Whether two worlds' arrays of walls (or goals) are copies of each other.
template <typename T>
bool same_bytes(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() &&
           (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// A stadium's planes and segments with their per-object constants, made
// once per batch of worlds and then only read, by every thread at once. The
// constants point into the arrays of the world they were made from, which
// must outlive them and keep its geometry.
// A grid of cells over the segments' extent and some way beyond it. A disc
// outside its clear box (against a wall, or at a kickoff barrier) is
// usually near only one or two walls: with every lane inside one cell it is
// tested against that cell's walls alone (walls_near). Only for stadiums of
// at most MAX_WALLS walls, whose indices fit a byte.
struct WallGrid {
    static constexpr std::size_t NX = 16, NY = 8, CELLS = NX * NY, MAX_WALLS = 64;
    bool on = false;
    double x0 = 0.0, y0 = 0.0, cell_w = 0.0, cell_h = 0.0;
    double per_w = 0.0, per_h = 0.0;  // 1 / cell_w and 1 / cell_h
    std::array<ClearBox, CELLS> cells{};

    WallGrid(std::span<const Plane> planes, std::span<const Segment> segments) {
        if (segments.empty() || planes.size() + segments.size() > MAX_WALLS) return;
        double lo_x = segments[0].v0.x, hi_x = lo_x, lo_y = segments[0].v0.y, hi_y = lo_y;
        for (const Segment& s : segments) {
            for (const Vec2 v : {s.v0, s.v1}) {
                lo_x = std::min(lo_x, v.x), hi_x = std::max(hi_x, v.x);
                lo_y = std::min(lo_y, v.y), hi_y = std::max(hi_y, v.y);
            }
        }
        // A quarter of the larger side beyond the segments on every side,
        // where planes often stand.
        const double spare = std::max(hi_x - lo_x, hi_y - lo_y) * 0.25;
        x0 = lo_x - spare, y0 = lo_y - spare;
        cell_w = (hi_x - lo_x + 2 * spare) / NX, cell_h = (hi_y - lo_y + 2 * spare) / NY;
        per_w = 1.0 / cell_w, per_h = 1.0 / cell_h;
        on = std::isfinite(x0) && std::isfinite(y0) && std::isfinite(cell_w) &&
             std::isfinite(cell_h) && cell_w > 0.0 && cell_h > 0.0 && std::isfinite(per_w) &&
             std::isfinite(per_h);
        for (std::size_t cy = 0; cy < NY; ++cy) {
            for (std::size_t cx = 0; cx < NX; ++cx) {
                cells[cy * NX + cx] = {x0 + cell_w * static_cast<double>(cx),
                                       y0 + cell_h * static_cast<double>(cy),
                                       x0 + cell_w * static_cast<double>(cx + 1),
                                       y0 + cell_h * static_cast<double>(cy + 1)};
            }
        }
    }

    // The cell a point is probably in (rounding may pick a neighbour, which
    // the caller's test of the cell's box then refuses), or CELLS outside the
    // grid (or for a NaN).
    std::size_t cell_of(double x, double y) const {
        const double fx = (x - x0) * per_w, fy = (y - y0) * per_h;
        if (!on || !(fx >= 0.0 && fx < NX && fy >= 0.0 && fy < NY)) return CELLS;
        return static_cast<std::size_t>(fy) * NX + static_cast<std::size_t>(fx);
    }
};

struct Walls {
    std::span<const Plane> planes;
    std::span<const Segment> segments;
    std::vector<PlaneConst> plane_consts;
    std::vector<SegmentConst> segment_consts;
    WallGrid grid;

    explicit Walls(const World& w) : planes(w.planes), segments(w.segments), grid(planes, segments) {
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
};

// A clear box with the disc radius and collision bits it was found for.
struct KeyedBox {
    double radius;
    std::int64_t group, mask;
    ClearBox box;
};

// Whether every lane's disc has the box's key.
inline bool has_key(const DiscLanes& d, const KeyedBox& k) {
    return all((d.radius == k.radius) & (d.group == k.group) & (d.mask == k.mask));
}

// Whether every lane's disc has the box's key and lies inside it, so that
// testing it against the walls would change nothing.
inline bool inside(const DiscLanes& d, const KeyedBox& k) {
    if (k.box.empty()) return false;
    const i64v in = (d.px > k.box.x0) & (d.px < k.box.x1) & (d.py > k.box.y0) &
                    (d.py < k.box.y1) & (d.radius == k.radius) & (d.group == k.group) &
                    (d.mask == k.mask);
    return all(in);
}

// One thread's view of the shared walls, with the clear boxes it has found
// so far. Fixed in size: it never allocates.
struct WallCache {
    std::span<const Plane> planes;
    std::span<const Segment> segments;
    std::span<const PlaneConst> plane_consts;
    std::span<const SegmentConst> segment_consts;

    // Clear boxes found so far, per radius and pair of collision bits.
    static constexpr std::size_t N_BOXES = 16;
    std::array<KeyedBox, N_BOXES> boxes{};
    std::size_t n_boxes = 0;
    // Per box, in stadium order, the planes and segments whose collision bits
    // meet the box's key: the only ones a disc with that key can touch.
    std::vector<std::uint32_t> keyed_planes, keyed_segments;
    std::array<std::uint32_t, N_BOXES> n_keyed_planes{}, n_keyed_segments{};
    // Per box and grid cell, the walls near the cell (walls_near).
    const WallGrid* grid;
    std::vector<std::uint64_t> near_walls;

    explicit WallCache(const Walls& w)
        : planes(w.planes),
          segments(w.segments),
          plane_consts(w.plane_consts),
          segment_consts(w.segment_consts),
          keyed_planes(N_BOXES * w.planes.size()),
          keyed_segments(N_BOXES * w.segments.size()),
          grid(&w.grid),
          near_walls(w.grid.on ? N_BOXES * WallGrid::CELLS : 0) {}

    // Whether w's walls have the shape of these: the caller promises that
    // w's geometry is a copy of theirs; this catches only a different shape.
    bool fit(const World& w) const {
        return planes.size() == w.planes.size() && segments.size() == w.segments.size();
    }

    // The box for lane 0's disc; `inside` checks that the other lanes share it.
    const KeyedBox& box_for(const DiscLanes& d) { return box_for(d.radius[0], d.group[0], d.mask[0]); }

    const KeyedBox& box_for(double radius, std::int64_t group, std::int64_t mask) {
        for (std::size_t i = 0; i < n_boxes; ++i) {
            const KeyedBox& k = boxes[i];
            if (k.radius == radius && k.group == group && k.mask == mask) return k;
        }
        // Masks change at kickoffs and goals, so only a handful of keys recur.
        if (n_boxes == boxes.size()) n_boxes = 0;
        const std::size_t at = n_boxes++;
        boxes[at] = {radius, group, mask, find_clear_box(planes, segments, radius, group, mask)};
        std::uint32_t n = 0;
        for (std::size_t i = 0; i < planes.size(); ++i) {
            if (flag::collides(group, mask, planes[i].c_group, planes[i].c_mask))
                keyed_planes[at * planes.size() + n++] = static_cast<std::uint32_t>(i);
        }
        n_keyed_planes[at] = n;
        n = 0;
        for (std::size_t i = 0; i < segments.size(); ++i) {
            if (flag::collides(group, mask, segments[i].c_group, segments[i].c_mask))
                keyed_segments[at * segments.size() + n++] = static_cast<std::uint32_t>(i);
        }
        n_keyed_segments[at] = n;
        if (grid->on) {
            for (std::size_t c = 0; c < WallGrid::CELLS; ++c)
                near_walls[at * WallGrid::CELLS + c] =
                    walls_near(grid->cells[c], planes, segments, radius, group, mask);
        }
        return boxes[at];
    }

    // The planes and segments that box_for's `k` keeps (see keyed_planes).
    std::span<const std::uint32_t> planes_of(const KeyedBox& k) const {
        const std::size_t at = static_cast<std::size_t>(&k - boxes.data());
        return {keyed_planes.data() + at * planes.size(), n_keyed_planes[at]};
    }
    std::span<const std::uint32_t> segments_of(const KeyedBox& k) const {
        const std::size_t at = static_cast<std::size_t>(&k - boxes.data());
        return {keyed_segments.data() + at * segments.size(), n_keyed_segments[at]};
    }

    // Whether every lane's disc lies strictly inside cell c.
    bool in_cell(const DiscLanes& d, std::size_t c) const {
        const ClearBox& b = grid->cells[c];
        return all((d.px > b.x0) & (d.px < b.x1) & (d.py > b.y0) & (d.py < b.y1));
    }

    // The cell that every lane's disc lies in, or CELLS.
    std::size_t shared_cell(const DiscLanes& d) const {
        const std::size_t c = grid->cell_of(d.px[0], d.py[0]);
        return c != WallGrid::CELLS && in_cell(d, c) ? c : WallGrid::CELLS;
    }

    // The walls near cell c for box_for's `k`, as walls_near's bits.
    std::uint64_t near(const KeyedBox& k, std::size_t c) const {
        return near_walls[static_cast<std::size_t>(&k - boxes.data()) * WallGrid::CELLS + c];
    }
};

}  // namespace
}  // namespace vexlo::lanes
