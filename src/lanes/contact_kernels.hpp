#pragma once

// The contact tests of the collision pass for every lane at once. Every
// expression mirrors the scalar test (physics/contacts.hpp) operation for
// operation, and both end in the same response (physics/contact_response.hpp);
// a branch there is a per-lane mask here, and a lane is changed only where the
// scalar code would have changed it. Part of the lane code compiled once per
// instruction set (see lane_vectors.hpp).

#include <type_traits>

#include "lanes/disc_lanes.hpp"
#include "lanes/wall_cache.hpp"
#include "physics/contact_response.hpp"
#include "vexlo/world.hpp"

namespace vexlo::lanes {
namespace {

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
    push_apart<MoveB>(a, b, contact, nx, ny, r - dist, k, a.b_coef, b.b_coef);
}

void disc_plane(DiscLanes& d, i64v movable, const PlaneConst& pc) {
    const Plane& plane = *pc.plane;
    const i64v touching = movable & collides(d.group, d.mask, splat(plane.c_group), splat(plane.c_mask));
    if (!any(touching)) return;
    const f64v pen = d.radius + (plane.dist - (d.px * pc.ux + d.py * pc.uy));
    const i64v contact = touching & (pen > 0.0);
    if (!any(contact)) return;
    push_off_wall(d, contact, pc.ux, pc.uy, pen, d.b_coef, plane.b_coef, plane.normal.x,
                  plane.normal.y);
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
    push_off_wall(d, contact, nx, ny, d.radius - g, d.b_coef, seg.b_coef, nx, ny);
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
}  // namespace vexlo::lanes
