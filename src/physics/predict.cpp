#include "predict.hpp"

#include <algorithm>
#include <numeric>

#include "contacts.hpp"

namespace vexlo {
namespace {

// The ball's share of one tick: motion, then the stadium discs (held fixed),
// planes and segments in stored order. Players, kicks and goals play no part.
void ball_only_tick(const World& w, Disc& ball) {
    ball.pos = moved(ball.pos, ball.vel);
    ball.vel = (ball.vel + ball.gravity) * ball.damping;
    if (ball.inv_mass == 0.0) return;
    for (std::size_t j = 1; j < w.first_player; ++j) {
        Disc fixed = w.discs[j];  // a private copy: the stadium disc never moves here
        if (flag::collides(ball.c_group, ball.c_mask, fixed.c_group, fixed.c_mask))
            disc_disc(ball, fixed);
    }
    for (const Plane& plane : w.planes) {
        if (flag::collides(ball.c_group, ball.c_mask, plane.c_group, plane.c_mask))
            disc_plane(ball, plane);
    }
    for (const Segment& seg : w.segments) {
        if (flag::collides(ball.c_group, ball.c_mask, seg.c_group, seg.c_mask))
            disc_segment(ball, seg);
    }
}

}  // namespace

PredictionPlan plan_prediction(std::vector<std::uint64_t> offsets) {
    PredictionPlan plan;
    plan.order.resize(offsets.size());
    std::iota(plan.order.begin(), plan.order.end(), std::size_t{0});
    std::stable_sort(plan.order.begin(), plan.order.end(),
                     [&](std::size_t a, std::size_t b) { return offsets[a] < offsets[b]; });
    plan.last_tick = offsets.empty() ? 0 : offsets[plan.order.back()];
    plan.offsets = std::move(offsets);
    return plan;
}

void predict_ball(const World& w, const PredictionPlan& plan, std::span<Vec2> out) {
    Disc ball = w.discs[0];
    std::size_t next = 0;  // position in plan.order of the next answer to fill
    const std::size_t count = plan.order.size();
    auto fill_due = [&](std::uint64_t tick) {
        while (next < count && plan.offsets[plan.order[next]] == tick) {
            out[plan.order[next]] = ball.pos;
            ++next;
        }
    };
    fill_due(0);
    for (std::uint64_t tick = 1; tick <= plan.last_tick && next < count; ++tick) {
        ball_only_tick(w, ball);
        fill_due(tick);
    }
}

}  // namespace vexlo
