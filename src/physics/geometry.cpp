#include "geometry.hpp"

namespace vexlo {

std::vector<std::array<double, 4>> wall_segments(const World& w) {
    std::vector<std::array<double, 4>> rows;
    for (const Segment& seg : w.segments) {
        if (seg.curve_f == 0.0 && (seg.c_mask & flag::FLAG_BALL) != 0)
            rows.push_back({seg.v0.x, seg.v0.y, seg.v1.x, seg.v1.y});
    }
    for (const Plane& plane : w.planes) {
        if ((plane.c_mask & flag::FLAG_BALL) == 0) continue;
        const double nx = plane.normal.x;
        const double ny = plane.normal.y;
        const double d = plane.dist;
        rows.push_back({nx * d + PLANE_HALF_LENGTH * ny, ny * d - PLANE_HALF_LENGTH * nx,
                        nx * d - PLANE_HALF_LENGTH * ny, ny * d + PLANE_HALF_LENGTH * nx});
    }
    return rows;
}

std::vector<std::array<double, 3>> obstacle_discs(const World& w) {
    std::vector<std::array<double, 3>> rows;
    for (std::size_t i = 1; i < w.first_player && i < w.discs.size(); ++i) {
        const Disc& d = w.discs[i];
        if ((d.c_mask & OBSTACLE_MASK) != 0) rows.push_back({d.pos.x, d.pos.y, d.radius});
    }
    return rows;
}

}  // namespace vexlo
