// Work on pool threads, where running out of memory could not be reported,
// must allocate nothing: the lane steppers and predictions get a workspace
// made beforehand. Long predictions run in
// spans of ticks and must give the bits of one run.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <random>
#include <span>
#include <thread>
#include <vector>

#include "arena.hpp"
#include "lanes/lanes.hpp"
#include "batch/workspace.hpp"
#include "vexlo/batch.hpp"

namespace {
thread_local bool t_counting = false;
thread_local std::size_t t_allocations = 0;

void* try_allocate(std::size_t size, std::align_val_t align) noexcept {
    if (t_counting) ++t_allocations;
    const std::size_t alignment = std::max(static_cast<std::size_t>(align), alignof(std::max_align_t));
    const std::size_t rounded = (size + alignment - 1) / alignment * alignment;
    return std::aligned_alloc(alignment, rounded == 0 ? alignment : rounded);
}

void* allocate(std::size_t size, std::align_val_t align) {
    if (void* p = try_allocate(size, align)) return p;
    throw std::bad_alloc();
}

constexpr std::align_val_t PLAIN{alignof(std::max_align_t)};
}  // namespace

// Every single-object form, so that no block made here is freed by another
// allocator, nor the other way round.
void* operator new(std::size_t size) { return allocate(size, PLAIN); }
void* operator new(std::size_t size, std::align_val_t a) { return allocate(size, a); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return try_allocate(size, PLAIN); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
    return try_allocate(size, a);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace vexlo {
namespace {

using test::arena;
using test::same_bits;

std::vector<World> copies_of_one_arena(std::size_t n) {
    std::vector<World> worlds;
    for (std::size_t i = 0; i < n; ++i) {
        World w = arena(5);
        w.ball().vel = {static_cast<double>(i % 7) - 3.0, static_cast<double>(i % 5) - 2.0};
        worlds.push_back(w);
    }
    return worlds;
}

TEST(Workspace, LaneWorkAllocatesNothing) {
    std::vector<World> worlds = copies_of_one_arena(2 * lane_width() + 1);
    const std::size_t n = worlds.size();
    std::vector<World*> ptrs;
    for (World& w : worlds) ptrs.push_back(&w);
    std::mt19937_64 rng(1);
    std::vector<std::vector<PlayerInput>> inputs;
    std::vector<const PlayerInput*> per_world;
    for (const World& w : worlds) inputs.push_back(test::chase_inputs(w, rng));
    for (const auto& in : inputs) per_world.push_back(in.data());
    std::vector<std::int8_t> scored(n);
    const PredictionPlan plan = plan_prediction({3, 0, 90, 41});
    std::vector<Vec2> out(n * plan.offsets.size());
    std::vector<BallMotion> carry(n);
    const auto workspace = make_lane_workspace(worlds[0], 2, lane_width());
    // On a new thread, as on a pool worker, so that no state it kept from
    // earlier work hides an allocation.
    std::size_t allocations = 0;
    std::thread([&] {
        t_counting = true;
        for (std::size_t first = 0; first < n; first += lane_width()) {
            const std::size_t count = std::min(lane_width(), n - first);
            // Long enough for kicks, goals and kickoffs, whose masks need new clear boxes.
            step_lanes(LaneRun{ptrs.data() + first, count, per_world.data() + first,
                               per_world.data() + first, 400, false, scored.data() + first, true,
                               workspace.get(), 1});
        }
        predict_block(PredictionBlock{worlds.data(), 0, n, &plan, out.data(), true, workspace.get(), 1,
                                      TickSpan{0, 40}, carry.data()});
        predict_block(PredictionBlock{worlds.data(), 0, n, &plan, out.data(), true, workspace.get(), 1,
                                      TickSpan{40, UINT64_MAX}, carry.data()});
        // What the other pool tasks run: the scalar tick, prediction and reset.
        step_scalar(LaneRun{ptrs.data(), n, per_world.data(), per_world.data(), 100, true,
                            scored.data()});
        predict_ball(worlds[1], plan, std::span<Vec2>(out.data(), plan.offsets.size()));
        restart_match(worlds[2]);
        t_counting = false;
        allocations = t_allocations;
    }).join();
    EXPECT_EQ(allocations, 0u);
    EXPECT_GT(worlds[0].steps, 0u);
}

// A batch keeps its workspace and pool across calls: a step, a rollout and
// a snapshot after the first ones allocate nothing on the calling thread
// (the pool's workers are covered above).
TEST(Workspace, BatchCallsAfterTheFirstAllocateNothing) {
    BatchOrError built = Batch::classic({9, 2, 2, 2400, 8});
    ASSERT_TRUE(std::holds_alternative<Batch>(built));
    Batch& b = std::get<Batch>(built);
    std::vector<std::int64_t> actions(9 * 4 * 3, 1);
    const auto view = StridedView<std::int64_t, 3>::dense(actions.data(), {9, 4, 3});
    std::vector<std::int8_t> scored(9);
    std::vector<double> rows(9 * 4 * 4 + 9 * 4);
    std::vector<std::int64_t> steps(9);
    const BatchSnapshot snapshot{rows.data(), rows.data() + 18, rows.data() + 36, rows.data() + 108,
                                 steps.data()};
    ASSERT_FALSE(b.step(view, scored.data()));
    t_allocations = 0;
    t_counting = true;
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(b.step(view, scored.data()));
        b.rollout(4);
        b.snapshot(snapshot);
    }
    t_counting = false;
    EXPECT_EQ(t_allocations, 0u);
    EXPECT_EQ(steps[0], 3 * (8 + 4) + 8);
}

// The benchmarks' width switch: a batch whose width changes between calls
// gets a workspace of the new width (a held one of the old width would be
// read as the wrong type) and the same worlds as a batch left at the default;
// a width the processor cannot run is refused and changes nothing.
TEST(Workspace, AForcedLaneWidthChangesOnlyTheSpeed) {
    EXPECT_FALSE(force_lane_width(2));
    EXPECT_FALSE(force_lane_width(16));
    const std::size_t widest = lane_width();
    std::vector<std::size_t> widths{1, 0};
    if (has_avx2()) widths.push_back(4);
    if (has_avx512()) widths.push_back(8);
    const auto make = [] { return std::get<Batch>(Batch::classic({13, 3, 3, 2400, 3})); };
    Batch forced = make(), plain = make();
    std::vector<std::int64_t> actions(13 * 6 * 3);
    const auto view = StridedView<std::int64_t, 3>::dense(actions.data(), {13, 6, 3});
    std::vector<std::int8_t> scored(13), want(13);
    std::mt19937_64 rng(3);
    for (int call = 0; call < 60; ++call) {
        for (std::int64_t& a : actions) a = static_cast<std::int64_t>(rng() % 3) - 1;
        ASSERT_TRUE(force_lane_width(widths[call % widths.size()]));
        ASSERT_FALSE(forced.step(view, scored.data()));
        forced.rollout(3);
        ASSERT_TRUE(force_lane_width(0));
        ASSERT_FALSE(plain.step(view, want.data()));
        plain.rollout(3);
        ASSERT_EQ(scored, want) << "call " << call;
    }
    EXPECT_EQ(lane_width(), widest);
    BatchWorkspace owner;
    const World layout = arena(1);
    for (std::size_t width : widths) {
        const std::size_t want_width = width == 0 ? widest : width;
        EXPECT_EQ(WorkspaceLease(owner, layout, 2, want_width).get()->width(), want_width);
    }
    std::vector<std::uint64_t> a(13), b(13);
    forced.digest(a.data());
    plain.digest(b.data());
    EXPECT_EQ(a, b);
}

TEST(Workspace, PredictionInSpansEqualsOneRun) {
    const std::vector<World> worlds = copies_of_one_arena(2 * lane_width() + 3);
    const std::size_t n = worlds.size();
    // Answers due on span boundaries, inside spans and at the very end.
    const PredictionPlan plan = plan_prediction({0, 7, 6, 1, 60, 13, 14, 7});
    const std::size_t k = plan.offsets.size();
    const auto workspace = make_lane_workspace(worlds[0], 1, lane_width());
    std::vector<Vec2> whole(n * k), spans(n * k);
    predict_block(PredictionBlock{worlds.data(), 0, n, &plan, whole.data(), true, workspace.get(), 0});
    std::vector<BallMotion> carry(n);
    for (std::uint64_t after = 0; after < plan.last_tick; after += 7)
        predict_block(PredictionBlock{worlds.data(), 0, n, &plan, spans.data(), true, workspace.get(),
                                      0, TickSpan{after, after + 7}, carry.data()});
    std::vector<Vec2> scalar(k);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::uint64_t after = 0; after < plan.last_tick; after += 13)
            predict_ball(worlds[i], plan, scalar, TickSpan{after, after + 13}, &carry[i]);
        for (std::size_t j = 0; j < k; ++j) {
            const Vec2 want = whole[i * k + j], got = spans[i * k + j];
            ASSERT_TRUE(same_bits(got.x, want.x) && same_bits(got.y, want.y)) << i << " " << j;
            ASSERT_TRUE(same_bits(scalar[j].x, want.x) && same_bits(scalar[j].y, want.y)) << i << " " << j;
        }
    }
}

}  // namespace
}  // namespace vexlo
