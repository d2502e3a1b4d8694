#include "clear_box.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vexlo {
namespace {

bool finite(double x) { return std::isfinite(x); }

// Far beyond any stadium, yet finite so that areas compare.
constexpr double UNBOUNDED = 1e15;

struct Carver {
    ClearBox box{-UNBOUNDED, -UNBOUNDED, UNBOUNDED, UNBOUNDED};
    Vec2 seed;
    bool failed = false;

    // Keeps the box where p.u >= floor: the plane contact needs
    // radius + (dist - p.u) > 0, so floor = dist + radius + margin. The
    // corner nearest the plane is put on that line, seen from the seed.
    void half_plane(double ux, double uy, double floor) {
        const double spare = seed.x * ux + seed.y * uy - floor;
        const double spread = std::abs(ux) + std::abs(uy);
        if (!(spare > 0.0) || !(spread > 0.0)) {
            failed = true;
            return;
        }
        const double step = spare / spread;
        if (!finite(step)) {
            failed = true;
            return;
        }
        if (ux > 0.0) box.x0 = std::max(box.x0, seed.x - step);
        if (ux < 0.0) box.x1 = std::min(box.x1, seed.x + step);
        if (uy > 0.0) box.y0 = std::max(box.y0, seed.y - step);
        if (uy < 0.0) box.y1 = std::min(box.y1, seed.y + step);
    }

    // Keeps the box out of the closed rectangle r, cutting the side that
    // leaves the most area.
    void avoid(const ClearBox& r) {
        if (r.x1 <= box.x0 || r.x0 >= box.x1 || r.y1 <= box.y0 || r.y0 >= box.y1) return;
        ClearBox best{0, 0, 0, 0};
        auto consider = [&](ClearBox c) {
            if (!c.contains(seed)) return;
            if (best.empty() || area(c) > area(best)) best = c;
        };
        consider({box.x0, box.y0, std::min(box.x1, r.x0), box.y1});
        consider({std::max(box.x0, r.x1), box.y0, box.x1, box.y1});
        consider({box.x0, box.y0, box.x1, std::min(box.y1, r.y0)});
        consider({box.x0, std::max(box.y0, r.y1), box.x1, box.y1});
        if (best.empty()) failed = true;
        box = best;
    }

    static double area(const ClearBox& b) { return (b.x1 - b.x0) * (b.y1 - b.y0); }
};

// The rectangle a disc's centre must enter to touch the segment: a contact
// needs the centre within max(radius, |bias|) of the wall (for an arc, of its
// whole circle).
bool segment_reach(const Segment& s, double reach, ClearBox& out) {
    if (s.curve_f != 0.0) {
        const double r = s.arc_radius + reach;
        out = {s.center.x - r, s.center.y - r, s.center.x + r, s.center.y + r};
    } else {
        // The contact divides by the length; one that overflows gives a zero
        // normal and a distance of 0 all along the wall, which touches.
        const Vec2 e{s.v1.x - s.v0.x, s.v1.y - s.v0.y};
        if (!finite(std::sqrt(e.x * e.x + e.y * e.y))) return false;
        out = {std::min(s.v0.x, s.v1.x) - reach, std::min(s.v0.y, s.v1.y) - reach,
               std::max(s.v0.x, s.v1.x) + reach, std::max(s.v0.y, s.v1.y) + reach};
    }
    return finite(out.x0) && finite(out.y0) && finite(out.x1) && finite(out.y1);
}

ClearBox carve(Vec2 seed, std::span<const Plane> planes, std::span<const Segment> segments,
               double radius, std::int64_t group, std::int64_t mask, double margin) {
    Carver c;
    c.seed = seed;
    for (const Plane& p : planes) {
        if (!flag::collides(group, mask, p.c_group, p.c_mask)) continue;
        // The same unit normal as the contact computes.
        const double q = 1.0 / std::sqrt(length_sq(p.normal));
        const double ux = p.normal.x * q, uy = p.normal.y * q;
        if (std::isnan(ux) || std::isnan(uy)) continue;  // such a plane is never touched
        // A normal whose square underflows gives an infinite unit normal,
        // which pushes every disc on one side of a line away to infinity.
        if (!finite(ux) || !finite(uy)) return {};
        c.half_plane(ux, uy, p.dist + radius + margin);
        if (c.failed) return {};
    }
    for (const Segment& s : segments) {
        if (!flag::collides(group, mask, s.c_group, s.c_mask)) continue;
        // An infinite or NaN bias lets the wall touch discs any distance behind it.
        if (!finite(s.bias)) return {};
        ClearBox reach;
        if (!segment_reach(s, std::max(radius, std::abs(s.bias)) + margin, reach)) return {};
        c.avoid(reach);
        if (c.failed) return {};
    }
    return c.box;
}

// The margin for these walls and radius (see find_clear_box), with the
// walls' bounding box; not finite when some number is not.
struct Scale {
    double margin;
    double lo_x = UNBOUNDED, lo_y = UNBOUNDED, hi_x = -UNBOUNDED, hi_y = -UNBOUNDED;
};

Scale wall_scale(std::span<const Plane> planes, std::span<const Segment> segments,
                 double radius) {
    // Rounding in a contact test is a few units in the last place of the
    // largest coordinate involved; the margin is a billion times that.
    Scale out;
    double scale = std::abs(radius);
    for (const Plane& p : planes) scale = std::max(scale, std::abs(p.dist));
    for (const Segment& s : segments) {
        for (const Vec2 v : {s.v0, s.v1, s.center}) {
            scale = std::max({scale, std::abs(v.x), std::abs(v.y)});
            out.lo_x = std::min(out.lo_x, v.x), out.lo_y = std::min(out.lo_y, v.y);
            out.hi_x = std::max(out.hi_x, v.x), out.hi_y = std::max(out.hi_y, v.y);
        }
        scale = std::max({scale, std::abs(s.bias), std::abs(s.arc_radius)});
    }
    out.margin = clear_margin(scale);
    return out;
}

// Whether the closed box keeps every centre in it out of the plane's reach:
// the contact needs radius + (dist - p.u) > 0, so every corner must have
// p.u >= dist + radius + margin (the least p.u of a box is at a corner).
bool box_clear_of_plane(const ClearBox& b, const Plane& p, double radius, double margin) {
    const double q = 1.0 / std::sqrt(length_sq(p.normal));
    const double ux = p.normal.x * q, uy = p.normal.y * q;
    const double floor = p.dist + radius + margin;
    if (!finite(ux) || !finite(uy) || !finite(floor)) return false;
    for (const Vec2 c : {Vec2{b.x0, b.y0}, Vec2{b.x0, b.y1}, Vec2{b.x1, b.y0}, Vec2{b.x1, b.y1}}) {
        if (!(c.x * ux + c.y * uy >= floor)) return false;
    }
    return true;
}

bool box_clear_of_segment(const ClearBox& b, const Segment& s, double radius, double margin) {
    if (!finite(s.bias)) return false;
    ClearBox reach;
    if (!segment_reach(s, std::max(radius, std::abs(s.bias)) + margin, reach)) return false;
    return reach.x1 < b.x0 || reach.x0 > b.x1 || reach.y1 < b.y0 || reach.y0 > b.y1;
}

}  // namespace

std::uint64_t walls_near(const ClearBox& cell, std::span<const Plane> planes,
                         std::span<const Segment> segments, double radius, std::int64_t group,
                         std::int64_t mask) {
    const double margin = wall_scale(planes, segments, radius).margin;
    const bool trusted = finite(radius) && finite(margin) && finite(cell.x0) && finite(cell.y0) &&
                         finite(cell.x1) && finite(cell.y1);
    std::uint64_t near = 0;
    for (std::size_t i = 0; i < planes.size(); ++i) {
        const Plane& p = planes[i];
        if (!flag::collides(group, mask, p.c_group, p.c_mask)) continue;
        if (trusted && box_clear_of_plane(cell, p, radius, margin)) continue;
        near |= std::uint64_t{1} << i;
    }
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const Segment& s = segments[i];
        if (!flag::collides(group, mask, s.c_group, s.c_mask)) continue;
        if (trusted && box_clear_of_segment(cell, s, radius, margin)) continue;
        near |= std::uint64_t{1} << (planes.size() + i);
    }
    return near;
}

ClearBox find_clear_box(std::span<const Plane> planes, std::span<const Segment> segments,
                        double radius, std::int64_t group, std::int64_t mask) {
    if (!finite(radius)) return {};
    const Scale sc = wall_scale(planes, segments, radius);
    if (!finite(sc.margin)) return {};
    const double margin = sc.margin;
    const double lo_x = sc.lo_x, lo_y = sc.lo_y, hi_x = sc.hi_x, hi_y = sc.hi_y;
    // Play usually centres on the origin; the middle of the walls is the
    // other guess.
    ClearBox best;
    for (const Vec2 seed : {Vec2{0.0, 0.0}, Vec2{(lo_x + hi_x) * 0.5, (lo_y + hi_y) * 0.5}}) {
        if (!finite(seed.x) || !finite(seed.y)) continue;
        const ClearBox b = carve(seed, planes, segments, radius, group, mask, margin);
        if (!b.empty() && (best.empty() || Carver::area(b) > Carver::area(best))) best = b;
    }
    return best;
}

ClearBox carve_clear_of(ClearBox box, std::span<const ClearBox> obstacles) {
    if (box.empty()) return {};
    Carver c;
    c.box = box;
    c.seed = {box.x0 + (box.x1 - box.x0) * 0.5, box.y0 + (box.y1 - box.y0) * 0.5};
    for (const ClearBox& r : obstacles) {
        c.avoid(r);
        if (c.failed) return {};
    }
    return c.box;
}

WallGrid::WallGrid(std::span<const Plane> planes, std::span<const Segment> segments) {
    if (segments.empty() || planes.size() + segments.size() > MAX_WALLS) return;
    double lo_x = segments[0].v0.x, hi_x = lo_x, lo_y = segments[0].v0.y, hi_y = lo_y;
    for (const Segment& s : segments) {
        for (const Vec2 v : {s.v0, s.v1}) {
            lo_x = std::min(lo_x, v.x), hi_x = std::max(hi_x, v.x);
            lo_y = std::min(lo_y, v.y), hi_y = std::max(hi_y, v.y);
        }
    }
    // A quarter of the larger side beyond the segments on every side, where
    // planes often stand.
    const double spare = std::max(hi_x - lo_x, hi_y - lo_y) * 0.25;
    x0 = lo_x - spare, y0 = lo_y - spare;
    cell_w = (hi_x - lo_x + 2 * spare) / NX, cell_h = (hi_y - lo_y + 2 * spare) / NY;
    per_w = 1.0 / cell_w, per_h = 1.0 / cell_h;
    on = finite(x0) && finite(y0) && finite(cell_w) && finite(cell_h) && cell_w > 0.0 &&
         cell_h > 0.0 && finite(per_w) && finite(per_h);
    for (std::size_t cy = 0; cy < NY; ++cy) {
        for (std::size_t cx = 0; cx < NX; ++cx) {
            cells[cy * NX + cx] = {x0 + cell_w * static_cast<double>(cx),
                                   y0 + cell_h * static_cast<double>(cy),
                                   x0 + cell_w * static_cast<double>(cx + 1),
                                   y0 + cell_h * static_cast<double>(cy + 1)};
        }
    }
}

std::size_t WallGrid::cell_of(Vec2 p) const {
    const double fx = (p.x - x0) * per_w, fy = (p.y - y0) * per_h;
    if (!on || !(fx >= 0.0 && fx < NX && fy >= 0.0 && fy < NY)) return CELLS;
    return static_cast<std::size_t>(fy) * NX + static_cast<std::size_t>(fx);
}

const ClearBoxCache::Entry& ClearBoxCache::entry_for(double radius, std::int64_t group,
                                                     std::int64_t mask) {
    for (std::size_t i = 0; i < n_entries_; ++i) {
        const Entry& e = entries_[i];
        if (e.radius == radius && e.group == group && e.mask == mask) return e;
    }
    const std::size_t at = next_;
    next_ = (next_ + 1) % SIZE;
    n_entries_ = std::max(n_entries_, at + 1);
    Entry& e = entries_[at];
    e.radius = radius, e.group = group, e.mask = mask;
    e.box = find_clear_box(planes_, segments_, radius, group, mask);
    if (grid_.on) {
        for (std::size_t c = 0; c < WallGrid::CELLS; ++c)
            e.near[c] = walls_near(grid_.cells[c], planes_, segments_, radius, group, mask);
    }
    return e;
}

}  // namespace vexlo
