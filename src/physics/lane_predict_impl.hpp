// The lane-parallel ball prediction; included after lane_kernels.hpp by the
// per-instruction-set files, which define VEXLO_PREDICT_ENTRY. It repeats the
// scalar prediction (predict.cpp) operation for operation.

#include "predict.hpp"

namespace vexlo::VEXLO_LANE_NS {
namespace {

struct PredictLanes {
    std::vector<DiscLanes> discs;
    Geometry geometry;
};

bool share_stadium(const LanePrediction& job) {
    const World& a = *job.worlds[0];
    if (a.first_player > a.discs.size()) return false;
    for (std::size_t l = 1; l < job.count; ++l) {
        const World& b = *job.worlds[l];
        if (b.discs.size() != a.discs.size() || b.first_player != a.first_player) return false;
        if (!job.uniform && (!same_bytes(a.planes, b.planes) || !same_bytes(a.segments, b.segments)))
            return false;
    }
    return true;
}

// The ball's share of one tick in every lane: the stadium discs are read,
// never written, and a lane whose ball is immovable meets nothing.
void ball_only_tick(PredictLanes& s, DiscLanes& ball, std::size_t first_player) {
    integrate(ball, ball.damping);
    const i64v movable = ball.inv_mass != 0.0;
    if (!any(movable)) return;
    for (std::size_t j = 1; j < first_player; ++j) {
        DiscLanes fixed = s.discs[j];
        disc_disc(ball, fixed, movable);
    }
    for (const PlaneConst& pc : s.geometry.plane_consts) disc_plane(ball, movable, pc);
    for (const SegmentConst& sc : s.geometry.segment_consts) disc_segment(ball, movable, sc);
}

}  // namespace

bool predict(const LanePrediction& job) {
    if (job.count == 0 || job.count > W || !share_stadium(job)) return false;
    thread_local PredictLanes s;
    const World& w0 = *job.worlds[0];
    // The ball and the stadium discs; players play no part.
    gather_discs(s.discs, job.worlds, job.count, job.uniform, w0.first_player);
    s.geometry.load(w0);
    const PredictionPlan& plan = *job.plan;
    DiscLanes ball = s.discs[0];
    std::size_t next = 0;
    const std::size_t answers = plan.order.size();
    auto fill_due = [&](std::uint64_t tick) {
        while (next < answers && plan.offsets[plan.order[next]] == tick) {
            const std::size_t k = plan.order[next];
            for (std::size_t l = 0; l < job.count; ++l) job.out[l][k] = Vec2{ball.px[l], ball.py[l]};
            ++next;
        }
    };
    fill_due(0);
    for (std::uint64_t tick = 1; tick <= plan.last_tick && next < answers; ++tick) {
        ball_only_tick(s, ball, w0.first_player);
        fill_due(tick);
    }
    return true;
}

}  // namespace vexlo::VEXLO_LANE_NS

namespace vexlo {
bool VEXLO_PREDICT_ENTRY(const LanePrediction& job) { return VEXLO_LANE_NS::predict(job); }
}  // namespace vexlo
