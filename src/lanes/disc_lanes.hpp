#pragma once

// Discs in lanes: disc i of every environment in one set of lane vectors,
// loaded from the worlds and moved by the motion step. Part of the lane code
// compiled once per instruction set (see lane_vectors.hpp).

#include <cstddef>
#include <cstdint>
#include <vector>

#include "vexlo/world.hpp"

namespace vexlo::lanes {
namespace {

struct DiscLanes {
    f64v px, py, vx, vy;
    f64v radius, inv_mass, damping, b_coef, gx, gy;
    i64v group, mask;
    f64v accel, kick_accel, kick_damping, kick_strength, kickback;
};

// Loads every lane's discs at once. Positions, velocities and masks always
// come from each lane's own world; the fixed properties too, unless the
// caller promised uniform worlds. Lanes past `count` repeat the first world.
// Only the first `n_discs` discs are loaded. `fixed_held` says whether
// `discs` still hold the fixed properties of uniform worlds: a workspace slot
// serves the worlds of one batch only, so after the first uniform load they
// need not be written again (nothing but this load writes them).
void gather_discs(std::vector<DiscLanes>& discs, const World* const* worlds, std::size_t count,
                  bool uniform, std::size_t n_discs, bool& fixed_held) {
    const World& w0 = *worlds[0];
    if (discs.size() != n_discs) fixed_held = false;
    const bool load_fixed = !(uniform && fixed_held);
    fixed_held = uniform;
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
        load_motion(lane_disc, D.px, D.py, D.vx, D.vy);
        for (std::size_t l = 0; l < W; ++l) D.mask[l] = lane_disc[l]->c_mask;
        if (uniform) {
            if (!load_fixed) continue;
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

// The motion step of every lane, as the scalar integrate (tick.cpp).
inline void integrate(DiscLanes& d, f64v damping) {
    d.px = add_first_nan(d.px, d.vx);
    d.py = add_first_nan(d.py, d.vy);
    d.vx = (d.vx + d.gx) * damping;
    d.vy = (d.vy + d.gy) * damping;
}

}  // namespace
}  // namespace vexlo::lanes
