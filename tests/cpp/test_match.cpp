#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

#include "engine_world.hpp"
#include "lane_checks.hpp"
#include "lanes/lanes.hpp"

namespace vexlo {
namespace {

using test::ball_disc;
using test::make_world;
using test::player_disc;
using test::same_bits;

const Goal kRightGoal{{370, -64}, {370, 64}, flag::FLAG_BLUE};

TEST(GoalLine, CentreCrossingTheLineCounts) {
    EXPECT_TRUE(crosses_goal_line({365, 0}, {375, 0}, kRightGoal));
    EXPECT_TRUE(crosses_goal_line({375, 0}, {365, 0}, kRightGoal));  // from behind too
    EXPECT_FALSE(crosses_goal_line({365, 0}, {369, 0}, kRightGoal));
    EXPECT_FALSE(crosses_goal_line({365, 70}, {375, 70}, kRightGoal));  // beside the post
}

TEST(GoalLine, ZeroProductsCountAsACrossing) {
    EXPECT_TRUE(crosses_goal_line({365, 0}, {370, 0}, kRightGoal));    // ends on the line
    EXPECT_TRUE(crosses_goal_line({365, 64}, {375, 64}, kRightGoal));  // through the end
}

TEST(GoalLine, NotANumberIsNoCrossing) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_FALSE(crosses_goal_line({365, 0}, {nan, 0}, kRightGoal));
    EXPECT_FALSE(crosses_goal_line({nan, nan}, {375, 0}, kRightGoal));
}

TEST(GoalLine, PathAlongTheLineCountsOnlyWhereItMeetsTheGoal) {
    EXPECT_FALSE(crosses_goal_line({370, 300}, {370, 310}, kRightGoal));
    EXPECT_FALSE(crosses_goal_line({370, 300}, {370, 300}, kRightGoal));  // at rest, outside
    EXPECT_TRUE(crosses_goal_line({370, 50}, {370, 70}, kRightGoal));
    EXPECT_TRUE(crosses_goal_line({370, -100}, {370, 100}, kRightGoal));
    EXPECT_TRUE(crosses_goal_line({370, 10}, {370, 10}, kRightGoal));  // at rest, in the mouth
    EXPECT_TRUE(crosses_goal_line({370, 64}, {370, 80}, kRightGoal));  // shares the end point
}

TEST(GoalLine, GoalOfZeroLengthNeedsThePathThroughItsPoint) {
    const Goal point{{100, 0}, {100, 0}, flag::FLAG_RED};
    EXPECT_TRUE(crosses_goal_line({90, 0}, {110, 0}, point));
    EXPECT_TRUE(crosses_goal_line({100, 0}, {100, 0}, point));
    EXPECT_FALSE(crosses_goal_line({90, 5}, {110, 5}, point));
    EXPECT_FALSE(crosses_goal_line({110, 0}, {120, 0}, point));
    EXPECT_FALSE(crosses_goal_line({100, 5}, {100, 5}, point));
}

World goal_world(Vec2 ball_pos, Vec2 ball_vel) {
    World w = make_world(ball_disc(ball_pos, ball_vel), {},
                         {player_disc(flag::FLAG_RED, {-200, 0}), player_disc(flag::FLAG_BLUE, {200, 0})});
    w.goals = {Goal{{370, -64}, {370, 64}, flag::FLAG_BLUE}, Goal{{-370, -64}, {-370, 64}, flag::FLAG_RED}};
    return w;
}

std::optional<std::int64_t> idle_tick(World& w) {
    const auto in = test::inputs(w.n_players);
    return w.step(in);
}

TEST(Scoring, GoalAtTheRedLineCountsForBlueAndRedKicksOffNext) {
    World w = goal_world({-360, 0}, {-20, 0});
    w.kickoff_team = flag::FLAG_BLUE;
    const std::uint64_t steps = w.steps;
    EXPECT_EQ(idle_tick(w), flag::FLAG_RED);
    EXPECT_EQ(w.blue_score, 1);
    EXPECT_EQ(w.red_score, 0);
    EXPECT_EQ(w.kickoff_team, flag::FLAG_RED);
    EXPECT_EQ(w.goal_timer, GOAL_RESET_DELAY);
    EXPECT_EQ(w.phase, Phase::AfterGoal);
    EXPECT_EQ(w.steps, steps + 1);
}

TEST(Scoring, OnlyTheFirstCrossedGoalScores) {
    World w = goal_world({-100, 0}, {200, 0});
    w.goals = {Goal{{0, -50}, {0, 50}, flag::FLAG_BLUE}, Goal{{50, -50}, {50, 50}, flag::FLAG_RED}};
    EXPECT_EQ(idle_tick(w), flag::FLAG_BLUE);
    EXPECT_EQ(w.red_score, 1);
    EXPECT_EQ(w.blue_score, 0);
}

TEST(Scoring, NoGoalCountsOutsideThePlayingPhase) {
    World w = goal_world({-360, 0}, {-20, 0});
    w.phase = Phase::Kickoff;
    EXPECT_FALSE(idle_tick(w).has_value());
    EXPECT_EQ(w.blue_score, 0);
    EXPECT_EQ(w.phase, Phase::Playing);  // the ball moved
}

TEST(Scoring, DelayEndsInTheKickoffPlacementOfTheConcedingTeam) {
    World w = goal_world({-360, 0}, {-20, 0});
    ASSERT_EQ(idle_tick(w), flag::FLAG_RED);
    for (int t = 1; t < GOAL_RESET_DELAY; ++t) {
        // The ball keeps rolling back and forth over the line: no more goals.
        ASSERT_FALSE(idle_tick(w).has_value());
        ASSERT_EQ(w.phase, Phase::AfterGoal) << "tick " << t;
        ASSERT_EQ(w.discs[w.first_player].c_mask, PLAYER_CMASK);
    }
    EXPECT_EQ(w.goal_timer, 1);
    EXPECT_FALSE(idle_tick(w).has_value());
    EXPECT_EQ(w.phase, Phase::Kickoff);
    EXPECT_EQ(w.goal_timer, 0);
    EXPECT_TRUE(same_bits(w.ball().pos.x, 0.0));
    EXPECT_TRUE(same_bits(w.ball().vel.x, 0.0));
    EXPECT_EQ(w.kickoff_team, flag::FLAG_RED);
    EXPECT_EQ(w.blue_score, 1);
    EXPECT_EQ(w.steps, 1u + GOAL_RESET_DELAY);
}

// A red player resting on a barrier that only the red kickoff group meets.
World barrier_world() {
    World w = make_world(ball_disc({0, 0}), {}, {player_disc(flag::FLAG_RED, {50, 5})});
    Segment barrier = test::wall_segment({0, 0}, {100, 0}, 0.0, 0.1);
    barrier.c_group = flag::FLAG_RED_KO;
    barrier.c_mask = flag::FLAG_RED | flag::FLAG_BLUE;
    w.segments.push_back(barrier);
    w.reset_positions();
    w.player(0).pos = {50, 5};
    w.ball().pos = {-300, 0};
    return w;
}

TEST(Kickoff, MasksAreWrittenAfterTheCollisionPass) {
    World w = barrier_world();
    idle_tick(w);
    // The first tick after the reset collides with mask 39: the barrier is ignored.
    EXPECT_TRUE(same_bits(w.player(0).pos.y, 5.0));
    EXPECT_EQ(w.player(0).c_mask, KICKOFF_CMASK_RED);
    idle_tick(w);
    EXPECT_TRUE(same_bits(w.player(0).pos.y, 15.0));
    EXPECT_EQ(w.phase, Phase::Kickoff);
}

TEST(Kickoff, MaskFollowsTheKickoffTeam) {
    for (auto [team, mask] : {std::pair{flag::FLAG_RED, KICKOFF_CMASK_RED},
                              std::pair{flag::FLAG_BLUE, KICKOFF_CMASK_BLUE},
                              std::pair<std::int64_t, std::int64_t>{0, KICKOFF_CMASK_BLUE}}) {
        World w = barrier_world();
        w.kickoff_team = team;
        idle_tick(w);
        EXPECT_EQ(w.player(0).c_mask, mask) << "team " << team;
    }
}

TEST(Kickoff, BarrierHoldsOneTickAfterTheBallFirstMoves) {
    World w = barrier_world();
    idle_tick(w);
    w.ball().vel = {1, 0};
    idle_tick(w);
    EXPECT_EQ(w.phase, Phase::Playing);
    EXPECT_EQ(w.player(0).c_mask, KICKOFF_CMASK_RED);  // written before the ball moved
    idle_tick(w);
    EXPECT_EQ(w.player(0).c_mask, PLAYER_CMASK);
}

TEST(Collisions, ImmovableDiscsSkipPlanesAndSegmentsButStillMove) {
    Disc ball = ball_disc({0, 5}, {0, -1});
    ball.inv_mass = 0.0;
    World w = make_world(ball, {}, {});
    w.planes.push_back(Plane{{0, 1}, 0.0, 1.0, flag::FLAG_WALL, flag::FLAG_ALL});
    idle_tick(w);
    EXPECT_TRUE(same_bits(w.ball().pos.y, 4.0));
    EXPECT_TRUE(same_bits(w.ball().vel.y, -0.99));

    w.ball().inv_mass = 1.0;
    idle_tick(w);
    EXPECT_TRUE(same_bits(w.ball().pos.y, 10.0));
}

TEST(Collisions, StadiumDiscsAreNeverCarriedByTheirVelocity) {
    Disc movable = test::post_disc({100, 100});
    movable.inv_mass = 1.0;
    movable.vel = {3, 4};
    World w = make_world(ball_disc({-100, 0}), {movable}, {});
    idle_tick(w);
    EXPECT_TRUE(same_bits(w.discs[1].pos.x, 100.0));
    EXPECT_TRUE(same_bits(w.discs[1].vel.x, 3.0));
    // A contact can still push it.
    w.ball().pos = {100, 85};
    idle_tick(w);
    EXPECT_GT(w.discs[1].pos.y, 100.0);
}

TEST(Collisions, MaskTestNeedsBothDirections) {
    Disc player = player_disc(flag::FLAG_RED, {0, 20});
    World w = make_world(ball_disc({0, 0}), {}, {player});
    w.ball().c_mask = flag::FLAG_BLUE;  // the ball ignores red players
    idle_tick(w);
    EXPECT_TRUE(same_bits(w.ball().pos.y, 0.0));
    w.ball().c_mask = flag::FLAG_RED;
    idle_tick(w);
    EXPECT_FALSE(same_bits(w.ball().pos.y, 0.0));
}

// A red player resting across a resting ball, with the masks of one case.
// Each object must admit the other's group: one side alone is no contact.
struct MaskCase {
    const char* name;
    std::int64_t ball_mask, player_mask;
    bool touch;
};
constexpr MaskCase kMaskCases[] = {
    {"both admit", flag::FLAG_ALL, PLAYER_CMASK, true},
    {"the player ignores the ball", flag::FLAG_ALL, PLAYER_CMASK & ~flag::FLAG_BALL, false},
    {"the ball ignores red", flag::FLAG_ALL & ~flag::FLAG_RED, PLAYER_CMASK, false},
};

World overlap_world(const MaskCase& c) {
    World w = make_world(ball_disc({0, 0}), {}, {player_disc(flag::FLAG_RED, {0, 20})});
    w.ball().c_mask = c.ball_mask;
    w.player(0).c_mask = c.player_mask;
    return w;
}

bool discs_untouched(const World& w) {
    return same_bits(w.ball().pos.y, 0.0) && same_bits(w.ball().vel.y, 0.0) &&
           same_bits(w.player(0).pos.y, 20.0) && same_bits(w.player(0).vel.y, 0.0);
}

TEST(Collisions, OneSidedMasksKeepDiscsApart) {
    for (const MaskCase& c : kMaskCases) {
        World w = overlap_world(c);
        idle_tick(w);
        EXPECT_EQ(discs_untouched(w), !c.touch) << c.name;
    }
}

// The same cases side by side in one lane group, each case in every lane
// position (lanes past the group's end repeat the first world).
TEST(Collisions, OneSidedMasksKeepDiscsApartInLanes) {
    const std::size_t n_cases = std::size(kMaskCases);
    for (const test::LaneWidth& lanes : test::lane_widths()) {
        const auto stepper = lanes.step;
        const std::size_t width = lanes.width;
        for (std::size_t count = 2; count <= width; ++count) {
            for (std::size_t shift = 0; shift < n_cases; ++shift) {
                for (bool uniform : {true, false}) {
                    const auto case_of = [&](std::size_t l) -> const MaskCase& {
                        return kMaskCases[(l + shift) % n_cases];
                    };
                    std::vector<World> worlds;
                    for (std::size_t l = 0; l < count; ++l) worlds.push_back(overlap_world(case_of(l)));
                    std::vector<World*> ptrs;
                    for (World& w : worlds) ptrs.push_back(&w);
                    const auto idle = test::inputs(1);
                    std::vector<const PlayerInput*> in(count, idle.data());
                    std::vector<std::int8_t> scored(count);
                    ASSERT_TRUE(stepper(LaneRun{ptrs.data(), count, in.data(), in.data(), 1,
                                                false, scored.data(), uniform}));
                    for (std::size_t l = 0; l < count; ++l) {
                        EXPECT_EQ(discs_untouched(worlds[l]), !case_of(l).touch)
                            << case_of(l).name << ": lane " << l << " of " << count
                            << ", width " << width << (uniform ? ", uniform" : "");
                    }
                }
            }
        }
    }
    if (const auto why = test::untested_widths()) GTEST_SKIP() << *why;
}

TEST(Collisions, SegmentArcHoldsTheBallInsideAGoalNet) {
    // A quarter arc around (0, 0) of radius 50 from (50, 0) to (0, 50).
    World w = make_world(ball_disc({30, 30}, {5, 5}), {}, {});
    w.segments.push_back(test::arc_segment({0, 0}, 50, {0, 50}, {50, 0}, 1.0000000000000002,
                                           flag::FLAG_WALL, flag::FLAG_ALL));
    for (int t = 0; t < 40; ++t) idle_tick(w);
    const double r = std::sqrt(length_sq(w.ball().pos));
    EXPECT_LE(r, 40.0 + 1e-9);
}

}  // namespace
}  // namespace vexlo
