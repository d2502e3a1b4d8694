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
// The cell of `grid` that a point is probably in (see WallGrid::cell_of),
// inline for the lanes' ticks.
inline std::size_t cell_of(const WallGrid& grid, double x, double y) {
    const double fx = (x - grid.x0) * grid.per_w, fy = (y - grid.y0) * grid.per_h;
    if (!grid.on || !(fx >= 0.0 && fx < WallGrid::NX && fy >= 0.0 && fy < WallGrid::NY))
        return WallGrid::CELLS;
    return static_cast<std::size_t>(fy) * WallGrid::NX + static_cast<std::size_t>(fx);
}

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

    // With the index of the box a disc had last (`hint`, kept up to date):
    // a disc's key changes only at kickoffs and goals, so the search is rare.
    const KeyedBox& box_for(const DiscLanes& d, std::uint8_t& hint) {
        if (hint < n_boxes) {
            const KeyedBox& k = boxes[hint];
            if (k.radius == d.radius[0] && k.group == d.group[0] && k.mask == d.mask[0]) return k;
        }
        const KeyedBox& k = box_for(d);
        hint = static_cast<std::uint8_t>(&k - boxes.data());
        return k;
    }

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
        const std::size_t c = cell_of(*grid, d.px[0], d.py[0]);
        return c != WallGrid::CELLS && in_cell(d, c) ? c : WallGrid::CELLS;
    }

    // The walls near cell c for box_for's `k`, as walls_near's bits.
    std::uint64_t near(const KeyedBox& k, std::size_t c) const {
        return near_walls[static_cast<std::size_t>(&k - boxes.data()) * WallGrid::CELLS + c];
    }
};

}  // namespace
}  // namespace vexlo::lanes
