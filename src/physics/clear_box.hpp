#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "vexlo/world.hpp"

// Broad phase for the batched tick: a box in which a disc can touch no plane
// and no segment. Every contact test there would miss, so a tick whose discs
// all sit inside may skip the tests and still give the same bits.
namespace vexlo {

struct ClearBox {
    double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;  // open box; empty when x0 >= x1

    bool contains(Vec2 p) const { return p.x > x0 && p.x < x1 && p.y > y0 && p.y < y1; }
    bool empty() const { return !(x0 < x1 && y0 < y1); }
};

// A box (a large one, not always the largest) in which a disc of `radius`
// with collision bits `group` and `mask` is farther from every plane and
// segment it collides with than any contact reaches, with a margin that
// outweighs rounding many times over. Empty when no such box is found.
ClearBox find_clear_box(std::span<const Plane> planes, std::span<const Segment> segments,
                        double radius, std::int64_t group, std::int64_t mask);

// The planes and segments that collide with `group` and `mask` and may
// touch a disc of `radius` whose centre lies in the open box `cell`, as bits:
// bit i for plane i, bit planes.size() + j for segment j (at most 64 walls in
// all). Those of which the cell keeps clear by find_clear_box's reach and
// margin are left out, only with finite numbers throughout.
std::uint64_t walls_near(const ClearBox& cell, std::span<const Plane> planes,
                         std::span<const Segment> segments, double radius, std::int64_t group,
                         std::int64_t mask);

// `box` cut down until it keeps clear of every rectangle in `obstacles`
// (closed); empty when the cuts leave nothing around the box's centre.
ClearBox carve_clear_of(ClearBox box, std::span<const ClearBox> obstacles);

// A grid of cells over the segments' extent and some way beyond it. A disc
// outside its clear box (against a wall, or at a kickoff barrier) is
// usually near only one or two walls: inside one cell it is tested against
// that cell's walls alone (walls_near). Only for stadiums of at most
// MAX_WALLS walls, whose indices fit the bits of walls_near.
struct WallGrid {
    static constexpr std::size_t NX = 16, NY = 8, CELLS = NX * NY, MAX_WALLS = 64;
    bool on = false;
    double x0 = 0.0, y0 = 0.0, cell_w = 0.0, cell_h = 0.0;
    double per_w = 0.0, per_h = 0.0;  // 1 / cell_w and 1 / cell_h
    std::array<ClearBox, CELLS> cells{};

    WallGrid(std::span<const Plane> planes, std::span<const Segment> segments);

    // The cell a point is probably in (rounding may pick a neighbour, which
    // the caller's test of the cell's box then refuses), or CELLS outside the
    // grid (or for a NaN).
    std::size_t cell_of(Vec2 p) const;
};

// The clear boxes of one stadium's walls for the keys (radius and collision
// bits) that discs ask for, each found once, with the walls near each cell
// of the stadium's grid. Fixed in size: it never allocates. It points into
// the walls, which must outlive it unchanged.
class ClearBoxCache {
public:
    struct Entry {
        double radius = 0.0;
        std::int64_t group = 0, mask = 0;
        ClearBox box;
        std::array<std::uint64_t, WallGrid::CELLS> near{};  // walls_near per cell
    };

    ClearBoxCache(std::span<const Plane> planes, std::span<const Segment> segments)
        : planes_(planes), segments_(segments), grid_(planes, segments) {}

    // The box and near walls for a disc of `radius` with `group` and `mask`.
    const Entry& entry_for(double radius, std::int64_t group, std::int64_t mask);
    const WallGrid& grid() const { return grid_; }

private:
    // Masks change at kickoffs and goals, so only a handful of keys recur.
    static constexpr std::size_t SIZE = 16;
    std::span<const Plane> planes_;
    std::span<const Segment> segments_;
    WallGrid grid_;
    std::array<Entry, SIZE> entries_{};
    std::size_t n_entries_ = 0, next_ = 0;
};

// The margin find_clear_box adds to a reach around coordinates of size `scale`.
inline double clear_margin(double scale) { return (1.0 + scale) * 1e-6; }

}  // namespace vexlo
