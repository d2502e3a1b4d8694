#pragma once

#include <cmath>
#include <optional>

#include "contact_response.hpp"
#include "vexlo/world.hpp"

// The contact tests of the collision pass. Each one resolves a single contact
// at once through the response in contact_response.hpp. Every expression
// keeps the game's order of evaluation; reordering any of them changes the bits.
namespace vexlo {

// Signed distance of a disc centre from a segment and the unit normal that
// the distance is measured along.
struct SegmentHit {
    double dist;
    Vec2 normal;
};

// Disc against disc; `a` is the one with the lower index in the tick.
inline void disc_disc(Disc& a, Disc& b) {
    const Vec2 d = a.pos - b.pos;
    const double s = length_sq(d);
    const double r = a.radius + b.radius;
    if (!(s > 0.0) || !(s <= r * r)) return;  // coincident centres never touch
    // Two immovable discs have no share to divide (0 / 0): both stay put.
    if (a.inv_mass == 0.0 && b.inv_mass == 0.0) return;
    const double dist = std::sqrt(s);
    const Vec2 n{d.x / dist, d.y / dist};
    const double k = a.inv_mass / (b.inv_mass + a.inv_mass);
    push_apart<true>(motion_of(a), motion_of(b), true, n.x, n.y, r - dist, k, a.b_coef, b.b_coef);
}

// Disc against an infinite plane. The push-out uses the unit normal, the
// bounce the normal as stored, so a longer normal bounces harder.
inline void disc_plane(Disc& disc, const Plane& plane) {
    const double q = 1.0 / std::sqrt(length_sq(plane.normal));
    const Vec2 u{plane.normal.x * q, plane.normal.y * q};
    const double pen = disc.radius + (plane.dist - (disc.pos.x * u.x + disc.pos.y * u.y));
    if (!(pen > 0.0)) return;
    push_off_wall(motion_of(disc), true, u.x, u.y, pen, disc.b_coef, plane.b_coef, plane.normal.x,
                  plane.normal.y);
}

// Straight segment: in range only while the centre projects strictly between
// the ends, so a zero-length segment is never in range.
inline std::optional<SegmentHit> segment_no_curve(Vec2 pos, Vec2 v0, Vec2 v1) {
    const Vec2 e{v1.x - v0.x, v1.y - v0.y};
    if (!((pos.x - v0.x) * e.x + (pos.y - v0.y) * e.y > 0.0)) return std::nullopt;
    if (!(e.x * (pos.x - v1.x) + e.y * (pos.y - v1.y) < 0.0)) return std::nullopt;
    const double len = std::sqrt(e.x * e.x + e.y * e.y);
    const Vec2 n{-e.y / len, e.x / len};
    return SegmentHit{(pos.x - v1.x) * n.x + (pos.y - v1.y) * n.y, n};
}

// Whether a centre offset `w` from an arc's centre lies in the arc's sector.
// Below 180 degrees the sector is where both limit vectors agree; above it,
// everywhere they do not both agree.
inline bool in_arc_sector(Vec2 w, Vec2 t0, Vec2 t1, double curve_f) {
    const double a = w.x * t0.x + w.y * t0.y;
    const double b = w.x * t1.x + w.y * t1.y;
    const bool reflex = curve_f < 0.0;
    if (a > 0.0) return (b > 0.0) != reflex;
    return reflex;
}

// Arc: distance from the circle, positive outside, with the normal pointing
// away from the centre.
inline std::optional<SegmentHit> segment_curve(Vec2 pos, Vec2 center, double arc_radius,
                                               Vec2 t0, Vec2 t1, double curve_f) {
    const Vec2 w = pos - center;
    if (!in_arc_sector(w, t0, t1, curve_f)) return std::nullopt;
    const double s = length_sq(w);
    if (!(s > 0.0)) return std::nullopt;
    const double len = std::sqrt(s);
    return SegmentHit{len - arc_radius, Vec2{w.x / len, w.y / len}};
}

inline std::optional<SegmentHit> segment_geometry(Vec2 pos, const Segment& seg) {
    if (seg.curve_f != 0.0)
        return segment_curve(pos, seg.center, seg.arc_radius, seg.t0, seg.t1, seg.curve_f);
    return segment_no_curve(pos, seg.v0, seg.v1);
}

// Side, bias and contact step after either geometry. A two-sided segment
// (bias 0) pushes the disc back to the side its centre is on; a one-sided one
// lets a disc more than |bias| behind it pass.
inline void segment_response(Disc& disc, const Segment& seg, SegmentHit hit) {
    double g = hit.dist;
    Vec2 n = hit.normal;
    double h = 0.0;
    if (seg.bias == 0.0) {
        if (g < 0.0) {
            g = -g;
            n = Vec2{-n.x, -n.y};
        }
    } else if (seg.bias < 0.0) {
        g = -g;
        n = Vec2{-n.x, -n.y};
        h = -seg.bias;
    } else {
        h = seg.bias;
    }
    if (g < -h) return;
    if (!(g < disc.radius)) return;
    push_off_wall(motion_of(disc), true, n.x, n.y, disc.radius - g, disc.b_coef, seg.b_coef, n.x,
                  n.y);
}

inline void disc_segment(Disc& disc, const Segment& seg) {
    if (const auto hit = segment_geometry(disc.pos, seg)) segment_response(disc, seg, *hit);
}

// Disc against a lone vertex. The tick has no vertex pass; this serves the
// contact-by-contact comparisons only. Touching exactly counts as contact.
inline void disc_vertex(Vec2& pos, Vec2& vel, double radius, double b_disc, Vec2 vertex,
                        double b_vertex) {
    const Vec2 d = pos - vertex;
    const double s = length_sq(d);
    if (!(s > 0.0) || !(std::sqrt(s) <= radius)) return;
    const double len = std::sqrt(s);
    const double q = 1.0 / len;
    const Vec2 n{d.x * q, d.y * q};
    push_off_wall(MotionRef{pos.x, pos.y, vel.x, vel.y}, true, n.x, n.y, radius - len,
                  b_disc, b_vertex, n.x, n.y);
}

}  // namespace vexlo
