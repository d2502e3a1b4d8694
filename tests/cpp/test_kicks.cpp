#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "engine_world.hpp"

namespace vexlo {
namespace {

using test::ball_disc;
using test::make_world;
using test::player_disc;
using test::same_bits;

// One red player at the origin and the ball 1 unit beyond its reach edge.
World kick_world() {
    Disc player = player_disc(flag::FLAG_RED, {0, 0});
    return make_world(ball_disc({26, 0}), {}, {player});
}

// Runs one tick per input and records a '1' where the ball was kicked. The
// ball is put back at rest in reach before every tick.
std::string kick_pattern(World& w, const std::vector<std::int64_t>& kicks) {
    std::string pattern;
    for (std::int64_t kick : kicks) {
        w.ball().pos = {26, 0};
        w.ball().vel = {0, 0};
        w.player(0).pos = {0, 0};
        w.player(0).vel = {0, 0};
        PlayerInput in{0, 0, kick};
        w.step(std::span(&in, 1));
        pattern += w.ball().vel.x != 0.0 ? '1' : '0';
    }
    return pattern;
}

TEST(Kick, DeliversStrengthAlongTheLineOfCentres) {
    Disc player = player_disc(flag::FLAG_RED, {0, 0});
    player.kickback = 0.0;
    player.kicking_damping = 0.5;  // must not be used: the kick disarms first
    player.vel = {0, 1};
    World w = make_world(ball_disc({24, 0}), {}, {player});
    PlayerInput in{0, 0, 2};
    EXPECT_FALSE(w.step(std::span(&in, 1)).has_value());
    EXPECT_TRUE(same_bits(w.ball().pos.x, 29.0));
    EXPECT_TRUE(same_bits(w.ball().pos.y, 0.0));
    EXPECT_TRUE(same_bits(w.ball().vel.x, 4.95));
    EXPECT_TRUE(same_bits(w.ball().vel.y, 0.0));
    EXPECT_FALSE(w.kicking[0]);
    EXPECT_EQ(w.kick_cooldown[0], w.kick_rate_min);
    EXPECT_TRUE(same_bits(w.player(0).vel.y, 0.96));
}

TEST(Kick, KickbackPushesTheKickerAwayTimesItsInverseMass) {
    Disc player = player_disc(flag::FLAG_RED, {0, 0});
    player.kickback = 2.0;
    World w = make_world(ball_disc({26, 0}), {}, {player});
    PlayerInput in{0, 0, 1};
    w.step(std::span(&in, 1));
    // 0.5 * (1 * -2) + 0, then one tick of damping 0.96
    EXPECT_TRUE(same_bits(w.player(0).pos.x, -1.0));
    EXPECT_TRUE(same_bits(w.player(0).vel.x, -1.0 * 0.96));
}

TEST(Kick, HeldPressKicksOncePerPress) {
    World w = kick_world();
    EXPECT_EQ(kick_pattern(w, {1, 1, 1, 1, 1, 1}), "100000");
    EXPECT_EQ(kick_pattern(w, {0, 1, 1, 0, 1, 0, 1}), "0100101");
}

TEST(Kick, TwoRearmsEveryTickUnderTheDefaultLimit) {
    World w = kick_world();
    EXPECT_EQ(kick_pattern(w, {2, 2, 2, 2, 2, 2, 2}), "1010101");
}

TEST(Kick, BurstCreditAllowsThreeInARowThenEverySecondTick) {
    World w = kick_world();
    w.kick_rate_min = 0;
    w.kick_rate_cost = 2;
    w.kick_rate_cap = 2;
    w.kick_credit[0] = 2;
    EXPECT_EQ(kick_pattern(w, {2, 2, 2, 2, 2, 2, 2, 2}), "11101010");
}

TEST(Kick, CreditStartsAtZeroAfterResetAndAllowsAnImmediateKick) {
    World w = kick_world();
    w.kick_held[0] = true;
    w.kick_cooldown[0] = 5;
    w.kick_credit[0] = -3;
    w.reset_positions();
    w.phase = Phase::Playing;
    EXPECT_EQ(kick_pattern(w, {1}), "1");
    EXPECT_EQ(w.kick_credit[0], 1);
}

TEST(Kick, ArmedKickWaitsForADiscToComeInReach) {
    Disc player = player_disc(flag::FLAG_RED, {0, 0});
    player.kicking_damping = 0.9;
    World w = make_world(ball_disc({100, 0}), {}, {player});
    PlayerInput in{1, 0, 1};
    w.step(std::span(&in, 1));
    EXPECT_TRUE(w.kicking[0]);
    EXPECT_TRUE(same_bits(w.player(0).pos.x, 0.07));
    EXPECT_TRUE(same_bits(w.player(0).vel.x, 0.07 * 0.9));
    w.ball().pos = {w.player(0).pos.x + 26.0, 0};
    w.step(std::span(&in, 1));
    EXPECT_FALSE(w.kicking[0]);
    EXPECT_GT(w.ball().vel.x, 4.0);
}

TEST(Kick, OnlyDiscsInTheKickGroupAreKickedWhateverTheirMasks) {
    Disc plain = test::post_disc({0, 24});
    plain.inv_mass = 1.0;
    Disc kickable = test::post_disc({-24, 0});
    kickable.inv_mass = 1.0;
    kickable.c_group = flag::FLAG_KICK;
    kickable.c_mask = 0;
    Disc ball = ball_disc({200, 200});
    World w = make_world(ball, {plain, kickable}, {player_disc(flag::FLAG_RED, {0, 0})});
    PlayerInput in{0, 0, 2};
    w.step(std::span(&in, 1));
    EXPECT_TRUE(same_bits(w.discs[1].vel.x, 0.0));
    EXPECT_TRUE(same_bits(w.discs[1].vel.y, 0.0));
    EXPECT_TRUE(same_bits(w.discs[2].vel.x, -5.0));  // stadium discs are not integrated
    EXPECT_FALSE(w.kicking[0]);
}

TEST(Kick, EveryPlayerInReachKicksOnTheSameTick) {
    Disc red = player_disc(flag::FLAG_RED, {-26, 0});
    Disc blue = player_disc(flag::FLAG_BLUE, {26, 0});
    World w = make_world(ball_disc({0, 0}), {}, {red, blue});
    std::vector<PlayerInput> in{{0, 0, 2}, {0, 0, 2}};
    w.step(in);
    // Both kicks land: +5 then -5 leaves the ball at rest.
    EXPECT_TRUE(same_bits(w.ball().vel.x, 0.0));
    EXPECT_FALSE(w.kicking[0]);
    EXPECT_FALSE(w.kicking[1]);
}

TEST(Kick, CreditWrapsInsteadOfOverflowing) {
    World w = kick_world();
    w.kick_rate_cost = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(kick_pattern(w, {2}), "1");
    // 1 - INT64_MIN wraps to INT64_MIN + 1: negative, so the next kicks wait.
    EXPECT_EQ(w.kick_credit[0], std::numeric_limits<std::int64_t>::min() + 1);
    EXPECT_EQ(kick_pattern(w, {2, 2, 2}), "000");
}

TEST(Movement, OnlyTheDirectionOfTheInputCounts) {
    World a = kick_world();
    World b = kick_world();
    a.ball().pos = b.ball().pos = {300, 300};
    PlayerInput small{3, -4, 0};
    PlayerInput large{6, -8, 0};
    for (int t = 0; t < 5; ++t) {
        a.step(std::span(&small, 1));
        b.step(std::span(&large, 1));
    }
    EXPECT_TRUE(same_bits(a.player(0).vel.x, b.player(0).vel.x));
    EXPECT_TRUE(same_bits(a.player(0).vel.y, b.player(0).vel.y));
    EXPECT_TRUE(same_bits(a.player(0).pos.x, b.player(0).pos.x));
    EXPECT_GT(a.player(0).vel.x, 0.0);
    EXPECT_LT(a.player(0).vel.y, 0.0);

    World c = kick_world();
    c.ball().pos = {300, 300};
    PlayerInput none{0, 0, 0};
    c.step(std::span(&none, 1));
    EXPECT_TRUE(same_bits(c.player(0).vel.x, 0.0));
    EXPECT_TRUE(same_bits(c.player(0).pos.x, 0.0));
}

TEST(Movement, ExtremeInputsStillGiveAUnitDirection) {
    World w = kick_world();
    w.ball().pos = {300, 300};
    PlayerInput in{std::numeric_limits<std::int64_t>::min(), 0, 0};
    w.step(std::span(&in, 1));
    EXPECT_TRUE(same_bits(w.player(0).pos.x, -0.1));
}

}  // namespace
}  // namespace vexlo
