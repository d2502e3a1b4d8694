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

std::size_t first_answer_at(const PredictionPlan& plan, std::uint64_t tick) {
    const auto due = std::partition_point(plan.order.begin(), plan.order.end(),
                                          [&](std::size_t k) { return plan.offsets[k] < tick; });
    return static_cast<std::size_t>(due - plan.order.begin());
}

void predict_ball(const World& w, const PredictionPlan& plan, std::span<Vec2> out, TickSpan span,
                  BallMotion* carry) {
    Disc ball = w.discs[0];
    if (span.after > 0) ball.pos = carry->pos, ball.vel = carry->vel;
    const std::uint64_t until = std::min(span.until, plan.last_tick);
    std::size_t next = first_answer_at(plan, span.after);  // position in plan.order of the next answer
    const std::size_t count = plan.order.size();
    auto fill_due = [&](std::uint64_t tick) {
        while (next < count && plan.offsets[plan.order[next]] == tick) {
            out[plan.order[next]] = ball.pos;
            ++next;
        }
    };
    fill_due(span.after);  // after a previous span: the same bits it wrote there
    for (std::uint64_t tick = span.after + 1; tick <= until && next < count; ++tick) {
        ball_only_tick(w, ball);
        fill_due(tick);
    }
    if (until < plan.last_tick) *carry = BallMotion{ball.pos, ball.vel};
}

}  // namespace vexlo
