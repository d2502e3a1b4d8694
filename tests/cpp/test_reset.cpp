#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_world.hpp"

namespace vexlo {
namespace {

using test::ball_disc;
using test::make_world;
using test::player_disc;

World team_world(int reds, int blues) {
    std::vector<Disc> players;
    for (int i = 0; i < reds; ++i) players.push_back(player_disc(flag::FLAG_RED, {1, 1}));
    for (int i = 0; i < blues; ++i) players.push_back(player_disc(flag::FLAG_BLUE, {1, 1}));
    return make_world(ball_disc({5, 5}, {1, 1}), {}, players);
}

void expect_pos(const Disc& d, double x, double y) {
    EXPECT_EQ(d.pos.x, x);
    EXPECT_EQ(d.pos.y, y);
}

TEST(ResetPositions, FallbackColumnsFillFromTheMiddleOutwards) {
    World w = team_world(3, 2);
    w.reset_positions();
    expect_pos(w.player(0), -277.5, 0);
    expect_pos(w.player(1), -277.5, -55);
    expect_pos(w.player(2), -277.5, 55);
    expect_pos(w.player(3), 277.5, 0);
    expect_pos(w.player(4), 277.5, -55);
    expect_pos(w.ball(), 0, 0);
}

TEST(ResetPositions, SpawnPointsFirstThenTheColumnAtTheSameCount) {
    World w = team_world(3, 6);
    w.red_spawn_points = {{100, 20}};
    w.blue_spawn_points = {{-1, -2}, {-3, -4}};
    w.spawn_distance = 10;
    w.reset_positions();
    expect_pos(w.player(0), 100, 20);
    expect_pos(w.player(1), -10, -55);
    expect_pos(w.player(2), -10, 55);
    expect_pos(w.player(3), -1, -2);
    expect_pos(w.player(4), -3, -4);
    expect_pos(w.player(5), 10, 55);
    expect_pos(w.player(6), 10, -110);
    expect_pos(w.player(7), 10, 110);
    expect_pos(w.player(8), 10, -165);
}

TEST(ResetPositions, ClearsMotionKickStateAndMasksOnly) {
    World w = team_world(1, 1);
    Disc post = test::post_disc({7, 7});
    w.discs.insert(w.discs.begin() + 1, post);
    w.first_player = 2;
    w.player(0).vel = {3, 3};
    w.player(0).c_mask = 0;
    w.player(1).c_mask = KICKOFF_CMASK_BLUE;
    w.kicking = {true, true};
    w.kick_held = {true, false};
    w.kick_cooldown = {4, 5};
    w.kick_credit = {-1, 7};
    w.kickoff_team = flag::FLAG_BLUE;
    w.steps = 99;
    w.red_score = 3;
    w.blue_score = 4;
    w.goal_timer = 17;
    w.kick_rate_min = 6;
    w.discs[1].pos = {8, 8};
    w.reset_positions();
    for (std::size_t p = 0; p < 2; ++p) {
        EXPECT_EQ(w.player(p).vel.x, 0.0);
        EXPECT_EQ(w.player(p).c_mask, PLAYER_CMASK);
        EXPECT_FALSE(w.kicking[p]);
        EXPECT_FALSE(w.kick_held[p]);
        EXPECT_EQ(w.kick_cooldown[p], 0);
        EXPECT_EQ(w.kick_credit[p], 0);
    }
    EXPECT_EQ(w.ball().vel.x, 0.0);
    EXPECT_EQ(w.phase, Phase::Kickoff);
    EXPECT_EQ(w.goal_timer, 0);
    EXPECT_EQ(w.kickoff_team, flag::FLAG_BLUE);
    EXPECT_EQ(w.steps, 99u);
    EXPECT_EQ(w.red_score, 3);
    EXPECT_EQ(w.blue_score, 4);
    EXPECT_EQ(w.kick_rate_min, 6);
    expect_pos(w.discs[1], 8, 8);
}

TEST(RestartMatch, AlsoClearsScoresAndCounterAndGivesRedTheKickoff) {
    World w = team_world(1, 1);
    w.kickoff_team = flag::FLAG_BLUE;
    w.steps = 12;
    w.red_score = 2;
    w.kick_rate_cap = 9;
    restart_match(w);
    EXPECT_EQ(w.kickoff_team, flag::FLAG_RED);
    EXPECT_EQ(w.steps, 0u);
    EXPECT_EQ(w.red_score, 0);
    EXPECT_EQ(w.kick_rate_cap, 9);
}

TEST(Flags, NamesAreExactAndCombineByOr) {
    using S = std::vector<std::string>;
    EXPECT_EQ(flag::parse(S{"ball", "kick", "score"}), 193);
    EXPECT_EQ(flag::parse(S{"red", "blue"}), 6);
    EXPECT_EQ(flag::parse(S{"all"}), 63);
    EXPECT_EQ(flag::parse(S{"redKO", "blueKO"}), 24);
    EXPECT_EQ(flag::parse(S{"wall", "wall", "ball"}), 33);
    EXPECT_EQ(flag::parse(S{"Ball"}), 0);
    EXPECT_EQ(flag::parse(S{"c0", ""}), 0);
    EXPECT_EQ(flag::parse(S{}), 0);
}

}  // namespace
}  // namespace vexlo
