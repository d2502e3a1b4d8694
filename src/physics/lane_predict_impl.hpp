// The lane-parallel ball prediction; included after lane_kernels.hpp by the
// per-instruction-set files, which define VEXLO_PREDICT_ENTRY. It repeats the
// scalar prediction (predict.cpp) operation for operation.

#include "predict.hpp"

namespace vexlo::VEXLO_LANE_NS {
namespace {

// The ball's clear box cut down to keep clear of the stadium discs too, for
// discs at the positions below. A prediction holds those discs still, so the
// box holds for all its ticks.
struct DiscClearBox {
    Geometry::KeyedBox walls{};   // the box it was cut from, with its key
    std::vector<Disc> discs;      // position, radius and bits of each stadium disc
    Geometry::KeyedBox box{};
};

struct PredictLanes {
    std::vector<DiscLanes> discs;
    Geometry geometry;
    DiscClearBox clear_of_discs;
    std::vector<ClearBox> obstacles;
};

bool share_stadium(const LanePrediction& job) {
    const World& a = *job.worlds[0];
    if (a.first_player == 0 || a.first_player > a.discs.size()) return false;
    for (std::size_t l = 1; l < job.count; ++l) {
        const World& b = *job.worlds[l];
        if (b.discs.size() != a.discs.size() || b.first_player != a.first_player) return false;
        if (!job.uniform && (!same_bytes(a.planes, b.planes) || !same_bytes(a.segments, b.segments)))
            return false;
    }
    return true;
}

// The ball's share of one tick in every lane: the stadium discs are read,
// never written, and a lane whose ball is immovable meets nothing. Nothing
// in a prediction changes the ball's radius or collision bits, so its clear
// box is found once.
void ball_only_tick(PredictLanes& s, DiscLanes& ball, std::size_t first_player,
                    const Geometry::KeyedBox& clear, const Geometry::KeyedBox* clear_of_all) {
    integrate(ball, ball.damping);
    const i64v movable = ball.inv_mass != 0.0;
    if (!any(movable)) return;
    if (clear_of_all != nullptr && Geometry::inside(ball, *clear_of_all)) return;
    for (std::size_t j = 1; j < first_player; ++j) disc_disc<false>(ball, s.discs[j], movable);
    if (Geometry::inside(ball, clear)) return;
    for (const PlaneConst& pc : s.geometry.plane_consts) disc_plane(ball, movable, pc);
    for (const SegmentConst& sc : s.geometry.segment_consts) disc_segment(ball, movable, sc);
}

bool same_key(const Geometry::KeyedBox& a, const Geometry::KeyedBox& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The ball's box clear of walls and stadium discs for this group, or null
// when the lanes' stadium discs are not all where lane 0's are.
const Geometry::KeyedBox* clear_of_discs(PredictLanes& s, const Geometry::KeyedBox& walls,
                                         std::size_t first_player) {
    if (walls.box.empty()) return nullptr;
    DiscClearBox& held = s.clear_of_discs;
    bool same_as_held = same_key(held.walls, walls) && held.discs.size() == first_player - 1;
    for (std::size_t j = 1; j < first_player; ++j) {
        const DiscLanes& D = s.discs[j];
        const i64v agree = (D.px == D.px[0]) & (D.py == D.py[0]) & (D.radius == D.radius[0]) &
                           (D.group == D.group[0]) & (D.mask == D.mask[0]);
        if (!all(agree)) return nullptr;
        if (!same_as_held) continue;
        const Disc& h = held.discs[j - 1];
        same_as_held = h.pos.x == D.px[0] && h.pos.y == D.py[0] && h.radius == D.radius[0] &&
                       h.c_group == D.group[0] && h.c_mask == D.mask[0];
    }
    if (same_as_held) return held.box.box.empty() ? nullptr : &held.box;
    held.walls = walls;
    held.discs.clear();
    s.obstacles.clear();
    bool trusted = true;
    for (std::size_t j = 1; j < first_player; ++j) {
        const DiscLanes& D = s.discs[j];
        Disc d;
        d.pos = {D.px[0], D.py[0]};
        d.radius = D.radius[0];
        d.c_group = D.group[0];
        d.c_mask = D.mask[0];
        held.discs.push_back(d);
        if (!flag::collides(walls.group, walls.mask, d.c_group, d.c_mask)) continue;
        // A contact needs |d|^2 <= (sum of the radii)^2: the centres within
        // the sum's magnitude, whatever its sign. A square that overflows
        // lets discs touch from anywhere, and bounds that do not hold a
        // number keep nothing out: then the box is not used at all.
        const double reach = std::abs(walls.radius + d.radius);
        const double scale = std::max({std::abs(d.pos.x), std::abs(d.pos.y), reach});
        const double r = reach + clear_margin(scale);
        const ClearBox around{d.pos.x - r, d.pos.y - r, d.pos.x + r, d.pos.y + r};
        trusted = trusted && std::isfinite(reach * reach) && std::isfinite(around.x0) &&
                  std::isfinite(around.y0) && std::isfinite(around.x1) && std::isfinite(around.y1);
        s.obstacles.push_back(around);
    }
    held.box = walls;
    held.box.box = trusted ? carve_clear_of(walls.box, s.obstacles) : ClearBox{};
    return held.box.box.empty() ? nullptr : &held.box;
}

// One group of lanes; `load_geometry` false when the caller knows that the
// geometry held in `s` is this group's.
bool predict_group(PredictLanes& s, const LanePrediction& job, bool load_geometry) {
    if (job.count == 0 || job.count > W || !share_stadium(job)) return false;
    const World& w0 = *job.worlds[0];
    // The ball and the stadium discs; players play no part.
    gather_discs(s.discs, job.worlds, job.count, job.uniform, w0.first_player);
    if (load_geometry) s.geometry.load(w0);
    const PredictionPlan& plan = *job.plan;
    DiscLanes& ball = s.discs[0];
    const Geometry::KeyedBox& clear = s.geometry.box_for(ball);
    const Geometry::KeyedBox* clear_of_all = clear_of_discs(s, clear, w0.first_player);
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
        ball_only_tick(s, ball, w0.first_player, clear, clear_of_all);
        fill_due(tick);
    }
    return true;
}

// Each group alone is too short to hide the latency of its loads, so the
// memory is asked early: for the ball and stadium discs PREFETCH_GROUPS
// groups ahead, and for the world records (which say where those discs are)
// twice as far.
constexpr std::size_t PREFETCH_GROUPS = 4;

void prefetch_records(const World* worlds, std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
        __builtin_prefetch(&worlds[i].discs);
        __builtin_prefetch(&worlds[i].first_player);
    }
}

void prefetch_stadium_discs(const World* worlds, std::size_t begin, std::size_t end) {
    for (std::size_t i = begin; i < end; ++i) {
        const World& w = worlds[i];
        const char* p = reinterpret_cast<const char*>(w.discs.data());
        const std::size_t bytes = std::min(w.first_player, w.discs.size()) * sizeof(Disc);
        for (std::size_t at = 0; at < bytes; at += 64) __builtin_prefetch(p + at);
    }
}

}  // namespace

bool predict(const LanePrediction& job) {
    thread_local PredictLanes s;
    return predict_group(s, job, true);
}

void predict_block(const PredictionBlock& b) {
    thread_local PredictLanes s;
    const std::size_t k = b.plan->offsets.size();
    std::array<const World*, W> group{};
    std::array<Vec2*, W> rows{};
    // Uniform worlds share one geometry: it is compared with the held copy
    // once per block instead of once per group.
    bool load_geometry = true;
    const std::size_t ahead = PREFETCH_GROUPS * W;
    prefetch_stadium_discs(b.worlds, b.begin, std::min(b.end, b.begin + ahead));
    prefetch_records(b.worlds, std::min(b.end, b.begin + ahead), std::min(b.end, b.begin + 2 * ahead));
    for (std::size_t first = b.begin; first < b.end; first += W) {
        const std::size_t count = std::min(W, b.end - first);
        const std::size_t near = std::min(b.end, first + ahead), far = std::min(b.end, first + 2 * ahead);
        prefetch_stadium_discs(b.worlds, near, std::min(b.end, near + W));
        prefetch_records(b.worlds, far, std::min(b.end, far + W));
        for (std::size_t l = 0; l < count; ++l) {
            group[l] = &b.worlds[first + l];
            rows[l] = b.out + (first + l) * k;
        }
        const LanePrediction job{group.data(), count, b.plan, rows.data(), b.uniform};
        // A lone world would leave every other lane idle.
        if (count > 1 && predict_group(s, job, load_geometry)) {
            load_geometry = !b.uniform;
            continue;
        }
        for (std::size_t l = 0; l < count; ++l)
            predict_ball(*group[l], *b.plan, std::span<Vec2>(rows[l], k));
    }
}

}  // namespace vexlo::VEXLO_LANE_NS

namespace vexlo {
bool VEXLO_PREDICT_ENTRY(const LanePrediction& job) { return VEXLO_LANE_NS::predict(job); }
void VEXLO_PREDICT_BLOCK_ENTRY(const PredictionBlock& block) { VEXLO_LANE_NS::predict_block(block); }
}  // namespace vexlo
