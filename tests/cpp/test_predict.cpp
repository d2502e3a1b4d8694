#include <gtest/gtest.h>

#include <vector>

#include "engine_world.hpp"
#include "physics/geometry.hpp"
#include "physics/predict.hpp"

namespace vexlo {
namespace {

using test::ball_disc;
using test::make_world;
using test::same_bits;

// A box of planes (one with a normal of length 2), a post, a straight wall,
// a rounded corner and a barrier the ball does not meet.
World box_world(Vec2 ball_pos, Vec2 ball_vel) {
    World w = make_world(ball_disc(ball_pos, ball_vel), {test::post_disc({100, 40})}, {});
    const std::int64_t wall = flag::FLAG_WALL, all = flag::FLAG_ALL;
    w.planes = {Plane{{0, 1}, -200, 0.5, wall, all}, Plane{{0, -2}, -200, 0.5, wall, all},
                Plane{{1, 0}, -420, 0.5, wall, all}, Plane{{-1, 0}, -420, 0.5, wall, all}};
    const Segment straight = test::wall_segment({-300, -100}, {-300, 100}, 0.0, 0.8);
    const Segment arc =
        test::arc_segment({350, 150}, 50, {0, 50}, {50, 0}, 1.0000000000000002, wall, all);
    Segment barrier = test::wall_segment({0, -200}, {0, 200}, 0.0, 0.8);
    barrier.c_group = flag::FLAG_RED_KO;
    barrier.c_mask = flag::FLAG_RED | flag::FLAG_BLUE;
    w.segments = {straight, arc, barrier};
    return w;
}

std::vector<Vec2> stepped_positions(World w, std::uint64_t ticks) {
    std::vector<Vec2> path{w.ball().pos};
    for (std::uint64_t t = 0; t < ticks; ++t) {
        w.step({});
        path.push_back(w.ball().pos);
    }
    return path;
}

TEST(PredictBall, MatchesTheTickBitForBitThroughEveryKindOfRebound) {
    // Aimed at the rounded corner, the post, the straight wall and the long-normal plane.
    const std::pair<Vec2, Vec2> starts[] = {{{300, 100}, {8, 8}},
                                            {{50, 40}, {6, 0.125}},
                                            {{-250, 0}, {-8, 1}},
                                            {{0, 100}, {0.5, 11}}};
    for (auto [pos, vel] : starts) {
        World w = box_world(pos, vel);
        const auto path = stepped_positions(w, 400);
        std::vector<std::uint64_t> offsets;
        for (std::uint64_t t = 0; t <= 400; ++t) offsets.push_back(t);
        const PredictionPlan plan = plan_prediction(offsets);
        std::vector<Vec2> out(offsets.size());
        predict_ball(w, plan, out);
        for (std::size_t k = 0; k < out.size(); ++k) {
            ASSERT_TRUE(same_bits(out[k].x, path[k].x) && same_bits(out[k].y, path[k].y))
                << "velocity (" << vel.x << ", " << vel.y << ") tick " << k;
        }
    }
}

TEST(PredictBall, AnswersEveryOffsetWhateverTheOrder) {
    World w = box_world({0, 0}, {7, -5});
    const auto path = stepped_positions(w, 60);
    const std::vector<std::uint64_t> offsets{0, 5, 3, 1, 60, 5, 0, 2, 2};
    std::vector<Vec2> out(offsets.size());
    predict_ball(w, plan_prediction(offsets), out);
    for (std::size_t k = 0; k < offsets.size(); ++k) {
        EXPECT_TRUE(same_bits(out[k].x, path[offsets[k]].x)) << "entry " << k;
        EXPECT_TRUE(same_bits(out[k].y, path[offsets[k]].y)) << "entry " << k;
    }
}

TEST(PredictBall, ImmovableBallPassesThroughEverything) {
    World w = box_world({390, 0}, {10, 0});
    w.ball().inv_mass = 0.0;
    std::vector<Vec2> out(1);
    predict_ball(w, plan_prediction({10}), out);
    EXPECT_GT(out[0].x, 420.0);
}

TEST(PredictBall, StadiumDiscsHoldStillAndTheWorldIsUnchanged) {
    World w = box_world({60, 40}, {8, 0});
    w.discs[1].inv_mass = 1.0;  // movable in the tick, fixed in the prediction
    const World before = w;
    std::vector<Vec2> out(1);
    predict_ball(w, plan_prediction({30}), out);
    EXPECT_LT(out[0].x, 100.0);  // bounced back off the post
    EXPECT_TRUE(same_bits(w.discs[1].pos.x, before.discs[1].pos.x));
    EXPECT_TRUE(same_bits(w.ball().pos.x, before.ball().pos.x));
    EXPECT_TRUE(same_bits(w.ball().vel.x, before.ball().vel.x));
}

TEST(Geometry, PlanesBecomeLongSegmentsScaledByTheirStoredNormal) {
    World w = box_world({0, 0}, {0, 0});
    w.planes = {Plane{{0, 1}, -200, 0, 32, 1}, Plane{{1, 0}, -420, 0, 32, 63},
                Plane{{0, 2}, -100, 0, 32, 1}, Plane{{0, 1}, 0, 0, 32, 2}};
    const auto rows = wall_segments(w);
    ASSERT_EQ(rows.size(), 4u);  // the straight wall, then three planes; no arc, no barrier
    EXPECT_EQ(rows[0], (std::array<double, 4>{-300, -100, -300, 100}));
    EXPECT_EQ(rows[1], (std::array<double, 4>{3000, -200, -3000, -200}));
    EXPECT_EQ(rows[2], (std::array<double, 4>{-420, -3000, -420, 3000}));
    EXPECT_EQ(rows[3], (std::array<double, 4>{6000, -200, -6000, -200}));
}

TEST(Geometry, ObstaclesAreStadiumDiscsThatMeetPlay) {
    World w = make_world(ball_disc(), {test::post_disc({1, 2}), test::post_disc({3, 4}),
                                       test::post_disc({5, 6})},
                         {test::player_disc(flag::FLAG_RED)});
    w.discs[2].c_mask = flag::FLAG_WALL;
    w.discs[3].c_mask = flag::FLAG_BLUE_KO;
    w.discs[3].inv_mass = 1.0;
    const auto rows = obstacle_discs(w);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::array<double, 3>{1, 2, 8}));
    EXPECT_EQ(rows[1], (std::array<double, 3>{5, 6, 8}));
}

}  // namespace
}  // namespace vexlo
