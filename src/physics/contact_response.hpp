#pragma once

#include "vexlo/world.hpp"

// The step that ends every contact: push the disc(s) out of the overlap along
// the contact normal and, when they approach, reflect the normal velocity with
// a restitution made of the two bounce coefficients. Written once over the
// number type, so that the scalar tick (doubles, bool conditions) and the
// lane-parallel one (lane vectors, lane masks) run the same operations in the
// same order and give the same bits. `c ? a : b` picks per lane there: the
// lanes compute both sides and keep the one the scalar code would have taken.
// Always inlined: the lane files use these under their own instruction set,
// which an out-of-line copy made before their target switch would not have.
namespace vexlo {

// A disc's position and velocity as the functions below take them: anything
// with members px, py, vx and vy, such as the lanes' discs or this view of a
// scalar disc.
struct MotionRef {
    double& px;
    double& py;
    double& vx;
    double& vy;
};

inline MotionRef motion_of(Disc& d) { return {d.pos.x, d.pos.y, d.vel.x, d.vel.y}; }

// Whether a condition holds anywhere; the lane code specialises it for masks.
template <typename Mask>
inline bool any_lane(Mask m) {
    return m;
}

// A disc against something that does not move, where `contact` holds: moved
// `depth` along the unit normal n, then, where it approaches, its normal
// velocity reflected along `out` (n itself, except for planes, which bounce
// along their normal as stored).
template <typename Motion, typename Mask, typename Normal, typename Depth, typename Coef,
          typename WallCoef, typename Out>
[[gnu::always_inline]] inline void push_off_wall(Motion&& d, Mask contact, Normal nx, Normal ny,
                                                 Depth depth, Coef b_disc, WallCoef b_wall,
                                                 Out out_x, Out out_y) {
    d.px = contact ? d.px + nx * depth : d.px;
    d.py = contact ? d.py + ny * depth : d.py;
    const auto vn = nx * d.vx + ny * d.vy;
    const auto bounce = contact & (vn < 0.0);
    const auto f = -((b_disc * b_wall + 1.0) * vn);
    d.vx = bounce ? d.vx + out_x * f : d.vx;
    d.vy = bounce ? d.vy + out_y * f : d.vy;
}

// Two discs in contact along the unit normal n (from b to a): the overlap
// divided by the share k of a's inverse mass, then, where they approach, the
// impulse divided the same way. Not push_off_wall with a fixed b: a's impulse
// is subtracted where a wall's is negated and added, and a NaN's sign differs. With `MoveB` false, b is an obstacle whose own
// response would be thrown away and stays as it is; a comes out the same.
template <bool MoveB, typename MotionA, typename MotionB, typename Mask, typename Value>
[[gnu::always_inline]] inline void push_apart(MotionA&& a, MotionB&& b, Mask contact, Value nx,
                                              Value ny, Value overlap, Value k, Value b_a,
                                              Value b_b) {
    const Value shift_a = overlap * k;
    const Value shift_b = overlap - shift_a;
    a.px = contact ? a.px + nx * shift_a : a.px;
    a.py = contact ? a.py + ny * shift_a : a.py;
    if constexpr (MoveB) {
        b.px = contact ? b.px - nx * shift_b : b.px;
        b.py = contact ? b.py - ny * shift_b : b.py;
    }
    const Value rel = (a.vx - b.vx) * nx + (a.vy - b.vy) * ny;
    const auto bounce = contact & (rel < 0.0);
    if (!any_lane(bounce)) return;
    const Value rr = (b_a * b_b + 1.0) * rel;
    const Value imp_a = rr * k;
    const Value imp_b = rr - imp_a;
    a.vx = bounce ? a.vx - nx * imp_a : a.vx;
    a.vy = bounce ? a.vy - ny * imp_a : a.vy;
    if constexpr (MoveB) {
        b.vx = bounce ? b.vx + nx * imp_b : b.vx;
        b.vy = bounce ? b.vy + ny * imp_b : b.vy;
    }
}

}  // namespace vexlo
