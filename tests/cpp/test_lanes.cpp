#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <span>
#include <utility>

#include "arena.hpp"
#include "batch/team_rows.hpp"
#include "lane_checks.hpp"
#include "lanes/lanes.hpp"

namespace vexlo {
namespace {

using test::arena;
using test::chase_inputs;
using test::LanePredictor;
using test::LaneStepper;
using test::same_state;

struct Batch {
    std::vector<World> worlds;
    std::vector<World*> ptrs;
    std::vector<std::vector<PlayerInput>> inputs;
    std::vector<const PlayerInput*> first, second;
    std::vector<std::int8_t> scored;

    explicit Batch(std::vector<World> w) : worlds(std::move(w)) {
        for (World& x : worlds) ptrs.push_back(&x);
        inputs.resize(worlds.size());
        scored.resize(worlds.size());
    }
    LaneRun run(std::uint64_t ticks, bool stop_at_goal, std::mt19937_64& rng,
                bool uniform = false) {
        first.clear();
        second.clear();
        for (std::size_t e = 0; e < worlds.size(); ++e) {
            inputs[e] = chase_inputs(worlds[e], rng);
            first.push_back(inputs[e].data());
            second.push_back(inputs[e].data());
        }
        return LaneRun{ptrs.data(), ptrs.size(), first.data(),  second.data(),
                       ticks,       stop_at_goal, scored.data(), uniform};
    }
};

// Steps the same batch through the scalar tick and through `stepper`, with
// the same inputs, and compares every world after every call. Uniform
// batches are copies of one arena; the others also differ in fixed disc
// properties from world to world.
void expect_same_as_scalar(LaneStepper stepper, std::size_t count, bool stop_at_goal,
                           bool uniform) {
    std::vector<World> start;
    for (std::size_t e = 0; e < count; ++e) {
        start.push_back(arena(17 * count + e));
        if (uniform) continue;
        start[e].ball().radius += 0.5 * static_cast<double>(e);
        start[e].player(2).kick_strength += static_cast<double>(e);
        start[e].player(3).kicking_damping -= 0.01 * static_cast<double>(e);
    }
    Batch scalar(start), lanes(start);
    std::mt19937_64 rng_scalar(count), rng_lanes(count);
    int goals = 0;
    for (int call = 0; call < 400; ++call) {
        const std::uint64_t ticks = 1 + call % 9;
        step_scalar(scalar.run(ticks, stop_at_goal, rng_scalar));
        ASSERT_TRUE(stepper(lanes.run(ticks, stop_at_goal, rng_lanes, uniform)));
        for (std::size_t e = 0; e < count; ++e) {
            ASSERT_EQ(scalar.scored[e], lanes.scored[e]) << "call " << call << " env " << e;
            ASSERT_TRUE(same_state(scalar.worlds[e], lanes.worlds[e]))
                << "call " << call << " env " << e;
            goals += scalar.scored[e] >= 0;
        }
    }
    if (stop_at_goal) {
        EXPECT_GT(goals, 0) << "the arena should see goals";
    }
}

void expect_width_matches(LaneStepper stepper, std::size_t width) {
    for (std::size_t count = 1; count <= width; ++count) {
        expect_same_as_scalar(stepper, count, true, false);
        expect_same_as_scalar(stepper, count, false, false);
        expect_same_as_scalar(stepper, count, true, true);
    }
}

TEST(Lanes, Avx2MatchesTheScalarTickBitForBit) {
    if (!has_avx2()) GTEST_SKIP() << "this processor has no AVX2: the 4-lane tick was not tested";
    expect_width_matches(step_lanes_avx2, 4);
}

TEST(Lanes, Avx512MatchesTheScalarTickBitForBit) {
    if (!has_avx512()) GTEST_SKIP() << "this processor has no AVX-512: the 8-lane tick was not tested";
    expect_width_matches(step_lanes_avx512, 8);
}

// Lane prediction against the scalar prediction, world by world, for balls
// thrown in many directions (one of them immovable in non-uniform batches).
// The arena's stadium disc above the centre is movable in the tick but held
// fixed here.
void expect_prediction_matches(LanePredictor predictor, std::size_t width) {
    const std::vector<std::uint64_t> offsets{0, 5, 3, 1, 150, 5, 0, 2, 2, 60, 149};
    const PredictionPlan plan = plan_prediction(offsets);
    std::mt19937_64 rng(width);
    for (bool uniform : {true, false}) {
        for (std::size_t count = 1; count <= width; ++count) {
            std::vector<World> worlds;
            for (std::size_t l = 0; l < count; ++l) {
                World w = arena(l);
                const double angle = static_cast<double>(rng() % 6283) / 1000.0;
                const double speed = static_cast<double>(rng() % 1500) / 100.0;
                w.ball().vel = {speed * std::cos(angle), speed * std::sin(angle)};
                if (!uniform && l == 1) w.ball().inv_mass = 0.0;
                if (l == 0) {
                    // Straight up into the movable disc, which must not give
                    // way however often the ball presses on it.
                    w.ball().pos = {0, 20};
                    w.ball().vel = {0, 12};
                }
                worlds.push_back(w);
            }
            ASSERT_TRUE(test::predicts_like_scalar(predictor, worlds, plan, uniform));
        }
    }
}

TEST(Lanes, PredictionMatchesTheScalarPredictionBitForBit) {
    for (const test::LaneWidth& isa : test::lane_widths())
        expect_prediction_matches(isa.predict, isa.width);
    if (const auto why = test::untested_widths()) GTEST_SKIP() << *why;
}

// Blocks of a batch as the module hands them over: any start and end (so
// partial and lone groups at the tail), uniform batches and batches whose
// worlds differ in layout, which fall back to the scalar prediction.
TEST(Lanes, PredictionBlocksAnswerForEveryWorld) {
    const std::vector<std::uint64_t> offsets{7, 0, 40};
    const PredictionPlan plan = plan_prediction(offsets);
    const std::size_t k = offsets.size();
    for (bool uniform : {true, false}) {
        std::vector<World> worlds;
        for (std::size_t i = 0; i < 23; ++i) {
            World w = arena(i);
            w.ball().vel = {static_cast<double>(i % 7) - 3.0, static_cast<double>(i % 5) - 2.0};
            if (!uniform && i % 6 == 5) w.segments.pop_back();
            worlds.push_back(w);
        }
        std::vector<Vec2> want(worlds.size() * k);
        for (std::size_t i = 0; i < worlds.size(); ++i)
            predict_ball(worlds[i], plan, std::span<Vec2>(want.data() + i * k, k));
        for (auto [begin, end] : {std::pair<std::size_t, std::size_t>{0, 23}, {3, 12}, {16, 17}, {9, 9}}) {
            std::vector<Vec2> got(worlds.size() * k, Vec2{-1, -1});
            predict_block(PredictionBlock{worlds.data(), begin, end, &plan, got.data(), uniform});
            for (std::size_t i = 0; i < worlds.size(); ++i) {
                const bool inside = i >= begin && i < end;
                for (std::size_t j = 0; j < k; ++j) {
                    const Vec2 expect = inside ? want[i * k + j] : Vec2{-1, -1};
                    ASSERT_TRUE(test::same_bits(got[i * k + j].x, expect.x) &&
                                test::same_bits(got[i * k + j].y, expect.y))
                        << "world " << i << " offset " << offsets[j] << " block " << begin << ".." << end;
                }
            }
        }
    }
}

// Uniform batches broadcast the fixed properties of the first world; the
// broadcast must copy them bit for bit: a damping of -0.0 gives velocities of
// the other sign than +0.0 does, and NaNs keep their signs.
TEST(Lanes, BroadcastPropertiesKeepSignedZerosAndNaNs) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    World base = arena(4);
    base.phase = Phase::Playing;
    for (std::size_t p = 0; p < base.n_players; ++p) {
        base.player(p).damping = -0.0;
        base.player(p).kicking_damping = -0.0;
    }
    base.ball().damping = -0.0;
    std::vector<PlayerInput> in(base.n_players, PlayerInput{1, -1, 0});
    in[1].kick = 1;
    const std::vector<std::uint64_t> offsets{1, 2};
    const PredictionPlan plan = plan_prediction(offsets);
    for (const test::LaneWidth& isa : test::lane_widths()) {
        const LaneStepper stepper = isa.step;
        const LanePredictor predictor = isa.predict;
        for (double ball_damping : {-0.0, -nan, nan}) {
            std::vector<World> scalar(2, base);
            for (World& w : scalar) w.ball().damping = ball_damping;
            scalar[1].ball().pos = {-nan, nan};
            scalar[1].ball().vel = {nan, -nan};
            std::vector<World> lanes = scalar;
            ASSERT_TRUE(test::predicts_like_scalar(predictor, lanes, plan, true)) << ball_damping;
            World* ps[2] = {&scalar[0], &scalar[1]};
            World* pl[2] = {&lanes[0], &lanes[1]};
            const PlayerInput* inputs[2] = {in.data(), in.data()};
            std::int8_t scored[2];
            step_scalar(LaneRun{ps, 2, inputs, inputs, 3, false, scored});
            ASSERT_TRUE(stepper(LaneRun{pl, 2, inputs, inputs, 3, false, scored, true}));
            EXPECT_TRUE(std::signbit(scalar[0].player(0).vel.x));
            for (std::size_t l = 0; l < 2; ++l)
                EXPECT_TRUE(same_state(scalar[l], lanes[l])) << "world " << l << " damping " << ball_damping;
        }
    }
    if (const auto why = test::untested_widths()) GTEST_SKIP() << *why;
}

// Ball paths on the edges of the goal-crossing test, stepped in batches whose
// lanes mix them: ending on the goal line, starting on it, running along
// it, grazing a post end (a zero product), crossing a goal of no length,
// and near misses of each. Every lane scores as a lone world does.
TEST(Lanes, GoalLineEdgeCasesScoreAsInTheScalarTick) {
    using test::ball_disc;
    struct Path {
        Vec2 from, vel;
        bool goal;
    };
    const Path paths[] = {{{90, 0}, {10, 0}, true},      {{100, 0}, {10, 0}, true},
                          {{100, -60}, {0, 30}, true},   {{90, 30}, {20, 20}, true},
                          {{90, -50}, {20, 20}, true},   {{190, -5}, {20, 5}, true},
                          {{100, 45}, {0, 30}, false},   {{100.5, -60}, {0, 30}, false},
                          {{90, 31}, {20, 20}, false},   {{190, -4}, {20, 5}, false},
                          {{80, 0}, {10, 0}, false}};
    Disc ball = ball_disc();
    ball.damping = 1.0;
    World base = test::make_world(ball, {}, {test::player_disc(flag::FLAG_RED, {-500, 500})});
    // A goal from (100, -40) to (100, 40) and one of no length at (200, -2.5).
    base.goals = {Goal{{100, -40}, {100, 40}, flag::FLAG_BLUE}, Goal{{200, -2.5}, {200, -2.5}, flag::FLAG_RED}};
    const std::size_t n_paths = std::size(paths);
    const PlayerInput idle[1] = {};
    for (const test::LaneWidth& isa : test::lane_widths()) {
        const LaneStepper stepper = isa.step;
        const std::size_t width = isa.width;
        for (std::size_t shift = 0; shift < n_paths; ++shift) {
            std::vector<World> scalar;
            for (std::size_t l = 0; l < width; ++l) {
                World w = base;
                w.ball().pos = paths[(shift + l) % n_paths].from;
                w.ball().vel = paths[(shift + l) % n_paths].vel;
                scalar.push_back(w);
            }
            std::vector<World> lanes = scalar;
            std::vector<World*> ps, pl;
            std::vector<const PlayerInput*> in(width, idle);
            for (std::size_t l = 0; l < width; ++l) {
                ps.push_back(&scalar[l]);
                pl.push_back(&lanes[l]);
            }
            std::vector<std::int8_t> want(width), got(width);
            step_scalar(LaneRun{ps.data(), width, in.data(), in.data(), 1, true, want.data()});
            ASSERT_TRUE(stepper(LaneRun{pl.data(), width, in.data(), in.data(), 1, true, got.data(), true}));
            for (std::size_t l = 0; l < width; ++l) {
                const std::size_t p = (shift + l) % n_paths;
                ASSERT_EQ(want[l] >= 0, paths[p].goal) << "path " << p;  // the scalar tick's verdict
                ASSERT_EQ(want[l], got[l]) << "path " << p << " in lane " << l << " of " << width;
                ASSERT_TRUE(same_state(scalar[l], lanes[l])) << "path " << p;
            }
        }
    }
    if (const auto why = test::untested_widths()) GTEST_SKIP() << *why;
}

// The first set of inputs drives ticks 0, 2, 4, ... of a batch and the
// second ticks 1, 3, 5, ...: a kick pressed in the first set only and a
// movement in the second only, in every lane width.
TEST(Lanes, AlternatingInputsStartWithTheFirstSet) {
    const World w = arena(3);
    std::vector<PlayerInput> first(w.n_players, PlayerInput{1, 1, 1});
    std::vector<PlayerInput> second(w.n_players, PlayerInput{-1, 0, 0});
    for (std::uint64_t ticks : {1, 2, 7}) {
        World alone = w;
        for (std::uint64_t t = 0; t < ticks; ++t) alone.step(t % 2 == 0 ? first : second);
        std::vector<World> worlds(MAX_LANES, w);
        std::vector<World*> ptrs;
        for (World& x : worlds) ptrs.push_back(&x);
        const std::vector<const PlayerInput*> firsts(MAX_LANES, first.data());
        const std::vector<const PlayerInput*> seconds(MAX_LANES, second.data());
        std::vector<std::int8_t> scored(MAX_LANES);
        step_scalar(LaneRun{ptrs.data(), 1, firsts.data(), seconds.data(), ticks, false, scored.data()});
        EXPECT_TRUE(same_state(worlds[0], alone)) << ticks << " ticks, scalar";
        for (const test::LaneWidth& isa : test::lane_widths()) {
            std::fill(worlds.begin(), worlds.end(), w);
            ASSERT_TRUE(isa.step(LaneRun{ptrs.data(), isa.width, firsts.data(), seconds.data(), ticks,
                                         false, scored.data(), true}));
            for (std::size_t l = 0; l < isa.width; ++l)
                EXPECT_TRUE(same_state(worlds[l], alone)) << ticks << " ticks, " << isa.isa << " lane " << l;
        }
    }
    if (const auto why = test::untested_widths()) GTEST_SKIP() << *why;
}

TEST(Lanes, AStadiumChangedBetweenCallsIsSeen) {
    if (!has_avx2()) GTEST_SKIP() << "this processor has no AVX2: step_lanes runs only the scalar tick";
    for (double dist : {-100.0, -60.0, -100.0}) {
        std::vector<World> start(4, arena(7));
        for (World& w : start) {
            w.planes[0].dist = dist;
            w.segments[0].v1.y = dist;
        }
        Batch scalar(start), lanes(start);
        std::mt19937_64 rng_scalar(1), rng_lanes(1);
        for (int call = 0; call < 30; ++call) {
            step_scalar(scalar.run(8, false, rng_scalar));
            step_lanes(lanes.run(8, false, rng_lanes, true));
        }
        for (std::size_t e = 0; e < start.size(); ++e)
            EXPECT_TRUE(same_state(scalar.worlds[e], lanes.worlds[e])) << "dist " << dist;
    }
}

TEST(Lanes, WorldsOfDifferentLayoutsFallBackToOneByOne) {
    std::vector<World> worlds{arena(1), arena(2)};
    worlds[1].segments.pop_back();
    Batch batch(worlds);
    std::mt19937_64 rng(5);
    const LaneRun run = batch.run(8, true, rng);
    for (const test::LaneWidth& isa : test::lane_widths()) EXPECT_FALSE(isa.step(run)) << isa.isa;
    Batch reference(worlds);
    std::mt19937_64 rng_ref(5);
    step_scalar(reference.run(8, true, rng_ref));
    step_lanes(run);
    EXPECT_TRUE(same_state(batch.worlds[0], reference.worlds[0]));
    EXPECT_TRUE(same_state(batch.worlds[1], reference.worlds[1]));
    if (const auto why = test::untested_widths()) GTEST_SKIP() << *why;
}


// The vector team observation rows against the scalar rows on signed zeros,
// infinities, NaNs (whose payloads tell which one is passed on), products
// that underflow and random bit patterns, in frames whose factors are zero,
// infinite or NaN as well, read through strides: rows reversed, x and y
// apart (read by gathers), players padded. Each width writes its whole
// groups from the first row it is given and leaves the rest alone; it leaves
// every row of a frame with a NaN factor to the scalar code.
TEST(Lanes, TeamRowsHaveTheScalarRowsBits) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double special[] = {0.0, -0.0, inf, -inf, nan, -nan, 1e308, -1e308, 3.5, -7.25, 5e-324,
                              -2.5e-310, 1e-20};
    constexpr std::ptrdiff_t N = 21, P = 3, D = sizeof(double);
    constexpr std::size_t K = 2;
    std::vector<double> ball_pos(2 * N), ball_vel(2 * N), player_pos(2 * N * P), player_vel(3 * N * P),
        ahead(2 * N * K);
    const BatchStateView view{
        StridedView<double, 2>::dense(ball_pos.data(), {N, 2}),
        {ball_vel.data(), {N, 2}, {D, N * D}},
        {player_pos.data() + 2 * P * (N - 1), {N, P, 2}, {-2 * P * D, 2 * D, D}},
        {player_vel.data(), {N, P, 2}, {3 * P * D, 3 * D, D}}};
    std::mt19937_64 rng(11);
    auto fill = [&](std::vector<double>& values) {
        for (double& v : values) {
            const std::uint64_t bits = rng();
            if (bits % 4 != 0) v = special[(bits >> 2) % std::size(special)];
            else std::memcpy(&v, &bits, sizeof v);
        }
    };
    const std::vector<TeamFrame> frames{{{2, 0, 1}, 1.0 / 370, 0.2, {-1.0, 0.25}, {2.0, -0.0}},
                                        {{1, 2}, -0.0, inf, {-0.0, nan}, {-inf, 0.0}},
                                        {{0}, 0.0, -5e-324, {0.0, -0.0}, {nan, 1e308}},
                                        {{2, 2, 0}, 1e-300, -3.0, {5e-324, -5e-324}, {1.0, -1.0}},
                                        {{1}, 2.0, -nan, {1.0, 1.0}, {0.0, 0.0}}};
    for (const test::LaneWidth& isa : test::lane_widths()) {
        for (TeamFrame frame : frames) {
            for (const bool mirror : {false, true}) {
                frame.mirror = mirror;
                for (auto* values : {&ball_pos, &ball_vel, &player_pos, &player_vel, &ahead}) fill(*values);
                const std::size_t width = vexlo::Batch::team_observation_width(frame.slots.size(), K);
                const std::size_t row_bytes = width * sizeof(float);
                std::vector<float> want(N * width), got(N * width), untouched(N * width);
                std::memset(got.data(), 0xA5, got.size() * sizeof(float));
                untouched = got;
                write_scalar_team_rows(view, frame, ahead.data(), K, 0, N, want.data());
                const std::size_t rest =
                    isa.team_rows({&view, &frame, ahead.data(), K, 1, N, got.data()});
                const bool nan_factor = std::isnan(frame.pos_mul) || std::isnan(frame.vel_mul);
                ASSERT_EQ(rest, nan_factor ? 1 : 1 + (N - 1) / isa.width * isa.width) << isa.isa;
                for (std::size_t e = 0; e < N; ++e) {
                    const float* row = (e >= 1 && e < rest ? want : untouched).data() + e * width;
                    EXPECT_EQ(std::memcmp(got.data() + e * width, row, row_bytes), 0)
                        << isa.isa << ", row " << e << ", pos_mul " << frame.pos_mul << ", mirror " << mirror;
                }
            }
        }
    }
    if (const auto why = test::untested_widths()) GTEST_SKIP() << *why;
}

}  // namespace
}  // namespace vexlo
