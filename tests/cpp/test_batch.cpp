// A Batch is the scalar tick and prediction run per world, whatever the
// number of worker threads, reading strided inputs in place; it refuses bad
// arguments before it writes anything and stops where its caller asks. It
// also turns one team's action digits into engine inputs.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "arena.hpp"
#include "lanes/instruction_sets.hpp"
#include "physics/predict.hpp"
#include "vexlo/batch.hpp"
#include "vexlo/stadium.hpp"

namespace vexlo {
namespace {

using test::same_state;

Batch make(std::uint64_t n_envs, std::uint64_t red, std::uint64_t blue,
           std::uint64_t tick_skip = 8) {
    BatchOrError built = Batch::classic({n_envs, red, blue, 2400, tick_skip});
    if (auto* error = std::get_if<BatchError>(&built)) ADD_FAILURE() << error->message;
    return std::get<Batch>(std::move(built));
}

// Balls spread over the field, some of them flying into a goal.
void scatter(Batch& b, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    auto uniform = [&](double lo, double hi) {
        return lo + (hi - lo) * static_cast<double>(rng() % 10001) / 10000.0;
    };
    const std::size_t n = b.n_envs(), p = b.n_players();
    std::vector<double> ball_pos(2 * n), ball_vel(2 * n);
    std::vector<double> player_pos(2 * n * p), player_vel(2 * n * p);
    for (std::size_t e = 0; e < n; ++e) {
        const double side = e % 2 == 0 ? 1.0 : -1.0;
        ball_pos[2 * e] = e % 3 == 0 ? side * 340.0 : uniform(-300, 300);
        ball_pos[2 * e + 1] = uniform(-60, 60);
        ball_vel[2 * e] = e % 3 == 0 ? side * 6.0 : uniform(-9, 9);
        ball_vel[2 * e + 1] = uniform(-4, 4);
    }
    for (double& v : player_pos) v = uniform(-300, 300) / 2;
    for (double& v : player_vel) v = uniform(-3, 3);
    const auto N = static_cast<std::ptrdiff_t>(n), P = static_cast<std::ptrdiff_t>(p);
    const BatchPlacement placement{StridedView<double, 2>::dense(ball_pos.data(), {N, 2}),
                                   StridedView<double, 2>::dense(ball_vel.data(), {N, 2}),
                                   StridedView<double, 3>::dense(player_pos.data(), {N, P, 2}),
                                   StridedView<double, 3>::dense(player_vel.data(), {N, P, 2}),
                                   std::nullopt};
    ASSERT_FALSE(b.set_state(placement));
}

// Actions of a step in an (N, P, 4) buffer: the view skips the fourth column.
struct Actions {
    std::vector<std::int64_t> buffer;
    StridedView<std::int64_t, 3> view;
};

Actions random_actions(std::size_t n, std::size_t p, std::mt19937_64& rng) {
    Actions a{std::vector<std::int64_t>(n * p * 4), {}};
    for (std::int64_t& v : a.buffer) v = static_cast<std::int64_t>(rng() % 5) - 2;
    const auto P = static_cast<std::ptrdiff_t>(p);
    a.view = {a.buffer.data(), {static_cast<std::ptrdiff_t>(n), P, 3}, {P * 32, 32, 8}};
    return a;
}

std::vector<World> copies(const Batch& b) {
    std::vector<World> worlds;
    for (std::size_t e = 0; e < b.n_envs(); ++e) worlds.push_back(b.world(e));
    return worlds;
}

class BatchAtWidth : public ::testing::TestWithParam<std::size_t> {
protected:
    void SetUp() override {
        if (!force_lane_width(GetParam())) GTEST_SKIP() << "this processor lacks the width";
    }
    void TearDown() override { force_lane_width(0); }
};

// Width 1: every world goes through the scalar tick with the batch's clear
// boxes, the widest width leaves a lone world of 13 to it too.
INSTANTIATE_TEST_SUITE_P(Widths, BatchAtWidth, ::testing::Values(0, 1, 4));

// One call of b against World::step on the reference copies; the goals it saw.
int step_both(Batch& b, std::vector<World>& reference, const Actions& a, int call) {
    std::vector<std::int8_t> scored(b.n_envs());
    EXPECT_FALSE(b.step(a.view, scored.data()));
    int goals = 0;
    for (std::size_t e = 0; e < reference.size(); ++e) {
        std::vector<PlayerInput> in(b.n_players());
        for (std::size_t p = 0; p < in.size(); ++p)
            in[p] = PlayerInput{a.view(e, p, 0), a.view(e, p, 1), a.view(e, p, 2)};
        std::int8_t want = -1;
        for (std::uint64_t t = 0; t < b.tick_skip() && want < 0; ++t) {
            if (auto conceded = reference[e].step(in)) want = static_cast<std::int8_t>(*conceded);
        }
        goals += want >= 0;
        EXPECT_EQ(scored[e], want) << "env " << e << " call " << call;
        EXPECT_TRUE(same_state(b.world(e), reference[e])) << "env " << e << " call " << call;
    }
    return goals;
}

TEST_P(BatchAtWidth, StepIsTheScalarTickPerWorldStoppingAtTheFirstGoal) {
    Batch b = make(13, 2, 1);
    scatter(b, 1);
    std::vector<World> reference = copies(b);
    std::mt19937_64 rng(2);
    int goals = 0;
    for (int call = 0; call < 12; ++call)
        goals += step_both(b, reference, random_actions(b.n_envs(), b.n_players(), rng), call);
    EXPECT_GT(goals, 0);  // the stop at a goal was exercised
}

TEST_P(BatchAtWidth, PlayersPressingOnTheKickoffBarrierMoveAsInTheScalarTick) {
    // Outside their clear boxes, next to the barrier and the walls, the
    // players meet only the walls near their cells until a push moves them out.
    Batch b = make(13, 3, 3, 2);
    b.reset_all();
    std::vector<World> reference = copies(b);
    std::mt19937_64 rng(4);
    for (int call = 0; call < 150; ++call) {
        Actions a = random_actions(b.n_envs(), b.n_players(), rng);
        for (std::size_t e = 0; e < b.n_envs(); ++e) {
            for (std::size_t p = 0; p < b.n_players(); ++p) {
                const std::size_t at = (e * b.n_players() + p) * 4;
                a.buffer[at] = b.world(e).player(p).team == flag::FLAG_RED ? 1 : -1;  // towards the middle
                if (call % 50 > 40) a.buffer[at] = -a.buffer[at];
            }
        }
        step_both(b, reference, a, call);
    }
}

TEST(Batch, RolloutAndPredictionAreTheScalarOnesPerWorld) {
    Batch b = make(7, 1, 2);
    scatter(b, 3);
    std::vector<World> reference = copies(b);
    ASSERT_TRUE(b.rollout(9));
    for (std::size_t e = 0; e < reference.size(); ++e) {
        std::vector<PlayerInput> pressed(b.n_players(), PlayerInput{1, 1, 1});
        std::vector<PlayerInput> released = pressed;
        released[0].kick = 0;
        for (int t = 1; t <= 9; ++t) reference[e].step(t % 2 == 1 ? pressed : released);
        EXPECT_TRUE(same_state(b.world(e), reference[e])) << "env " << e;
    }
    const std::vector<std::uint64_t> offsets = {40, 0, 7, 300};
    std::vector<double> out(b.n_envs() * offsets.size() * 2);
    ASSERT_TRUE(b.predict(offsets, out.data()));
    const PredictionPlan plan = plan_prediction(offsets);
    for (std::size_t e = 0; e < reference.size(); ++e) {
        std::vector<Vec2> want(offsets.size());
        predict_ball(reference[e], plan, want);
        const double* got = &out[e * offsets.size() * 2];
        EXPECT_EQ(std::memcmp(want.data(), got, want.size() * sizeof(Vec2)), 0) << "env " << e;
    }
}

// The state and a team's observation, as step_observe hands them back.
struct Observed {
    std::vector<std::int8_t> scored;
    std::vector<double> balls, players;  // positions then velocities
    std::vector<std::int64_t> steps;
    std::vector<float> obs;

    Observed(std::size_t n, std::size_t p, std::size_t width)
        : scored(n), balls(4 * n), players(4 * n * p), steps(n), obs(n * width) {}
    BatchSnapshot snapshot() {
        const std::size_t n = steps.size(), np = players.size() / 2;
        return {balls.data(), balls.data() + 2 * n, players.data(), players.data() + np,
                steps.data()};
    }
    bool operator==(const Observed& o) const {
        auto same = [](const auto& a, const auto& b) {
            return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(a[0])) == 0;
        };
        return same(scored, o.scored) && same(balls, o.balls) && same(players, o.players) &&
               same(steps, o.steps) && same(obs, o.obs);
    }
};

TEST(Batch, StepObserveHasTheBitsOfTheCallsItJoins) {
    // 67 environments: lane groups that do not divide it; the second
    // lookahead is longer than a prediction runs without looking for an
    // interruption, so it takes the separate prediction.
    for (const std::vector<std::uint64_t>& offsets :
         {std::vector<std::uint64_t>{8}, {}, {16, 4}, {3, 70000}}) {
        Batch joined = make(67, 2, 1), parts = make(67, 2, 1);
        scatter(joined, 8);
        scatter(parts, 8);
        // Two frames, as a match's two sides see it: one prediction serves both.
        const TeamFrame frames[2] = {{{1, 0, 2}, 1.0 / 370, 0.2, {-1.0, 0.25}, {2.0, -0.0}, true},
                                     {{2, 1, 0}, 0.5, -0.2, {0.5, 0.0}, {-2.0, 1.0}, false}};
        const std::size_t n = 67, p = 3;
        const std::size_t width = 2 * Batch::team_observation_width(3, offsets.size());
        std::mt19937_64 rng(9);
        for (int call = 0; call < 12; ++call) {
            const Actions a = random_actions(n, p, rng);
            std::vector<std::uint8_t> restart(n);
            for (std::uint8_t& r : restart) r = rng() % 9 == 0;
            const EnvMask mask = call % 3 == 0 ? EnvMask{} : EnvMask{StridedView<std::uint8_t, 1>::dense(
                                                                 restart.data(), {67})};
            Observed got(n, p, width), want(n, p, width);
            bool finished = false;
            ASSERT_FALSE(joined.step_observe(a.view, mask, frames, offsets, got.scored.data(),
                                             got.snapshot(), got.obs.data(), finished));
            EXPECT_TRUE(finished);
            ASSERT_FALSE(parts.step(a.view, want.scored.data()));
            if (mask) {
                ASSERT_FALSE(parts.reset_mask(*mask));
            }
            parts.snapshot(want.snapshot());
            const BatchSnapshot s = want.snapshot();
            const BatchStateView view{StridedView<double, 2>::dense(s.ball_pos, {67, 2}),
                                      StridedView<double, 2>::dense(s.ball_vel, {67, 2}),
                                      StridedView<double, 3>::dense(s.player_pos, {67, 3, 2}),
                                      StridedView<double, 3>::dense(s.player_vel, {67, 3, 2})};
            for (int f = 0; f < 2; ++f)
                ASSERT_FALSE(parts.team_observation(view, frames[f], offsets,
                                                    want.obs.data() + f * want.obs.size() / 2,
                                                    finished));
            EXPECT_TRUE(got == want) << "call " << call << ", " << offsets.size() << " offsets";
        }
    }
}

TEST(Batch, StepObserveRefusesBeforeItSteps) {
    Batch b = make(3, 1, 1);
    scatter(b, 6);
    const std::vector<World> before = copies(b);
    std::mt19937_64 rng(7);
    const Actions right = random_actions(3, 2, rng), wrong = random_actions(3, 3, rng);
    Observed out(3, 2, Batch::team_observation_width(2, 1));
    const std::uint8_t mask[4] = {1, 1, 1, 1};
    const TeamFrame frame{{0, 1}, 1.0, 1.0, {}, {}, false};
    TeamFrame bad_slot = frame, one_slot = frame;
    bad_slot.slots = {0, 2};
    one_slot.slots = {1};
    bool finished = true;
    auto refusal = [&](const StridedView<std::int64_t, 3>& actions, const EnvMask& restart,
                       std::vector<TeamFrame> frames) {
        BatchStatus refused = b.step_observe(actions, restart, frames, {8}, out.scored.data(),
                                             out.snapshot(), out.obs.data(), finished);
        return refused ? refused->message : std::string("accepted");
    };
    EXPECT_EQ(refusal(wrong.view, {}, {frame}),
              "step_observe: actions shape [3, 3, 3] != expected (n_envs=3, n_players=2, 3)");
    EXPECT_EQ(refusal(right.view, StridedView<std::uint8_t, 1>::dense(mask, {4}), {frame}),
              "step_observe: restart mask length 4 != n_envs 3");
    EXPECT_EQ(refusal(right.view, {}, {frame, bad_slot}),
              "step_observe: slot 2 is not below n_players 2");
    EXPECT_EQ(refusal(right.view, {}, {frame, one_slot}),
              "step_observe: every frame must list as many slots as the first (2)");
    EXPECT_FALSE(finished);
    for (std::size_t e = 0; e < 3; ++e) EXPECT_TRUE(same_state(b.world(e), before[e])) << e;
}

// Everything a sequence of calls leaves behind, as bytes.
std::vector<double> run_everything(std::size_t workers) {
    set_worker_count(workers);
    EXPECT_EQ(worker_count(), workers);
    Batch b = make(501, 3, 3);  // work for every thread; lane groups that do not divide it
    scatter(b, 4);
    std::mt19937_64 rng(5);
    std::vector<std::int8_t> scored(b.n_envs());
    std::vector<double> trace;
    for (int call = 0; call < 6; ++call) {
        const Actions a = random_actions(b.n_envs(), b.n_players(), rng);
        EXPECT_FALSE(b.step(a.view, scored.data()));
        trace.insert(trace.end(), scored.begin(), scored.end());
    }
    b.rollout(25);
    {
        const Actions a = random_actions(b.n_envs(), b.n_players(), rng);
        std::vector<std::uint8_t> restart(b.n_envs());
        for (std::size_t e = 0; e < restart.size(); e += 7) restart[e] = 1;
        Observed o(b.n_envs(), b.n_players(), Batch::team_observation_width(2, 1));
        bool finished = false;
        const TeamFrame frame{{0, 4}, 0.5, 0.25, {1.0, 2.0}, {3.0, 4.0}, false};
        EXPECT_FALSE(b.step_observe(a.view, StridedView<std::uint8_t, 1>::dense(restart.data(), {501}),
                                    std::span(&frame, 1), {8}, o.scored.data(), o.snapshot(),
                                    o.obs.data(), finished));
        trace.insert(trace.end(), o.obs.begin(), o.obs.end());
        trace.insert(trace.end(), o.balls.begin(), o.balls.end());
    }
    const std::vector<std::uint64_t> offsets = {3, 90};
    std::vector<double> predicted(b.n_envs() * 4);
    b.predict(offsets, predicted.data());
    trace.insert(trace.end(), predicted.begin(), predicted.end());
    const std::size_t n = b.n_envs(), p = b.n_players();
    std::vector<double> balls(4 * n), players(4 * n * p);
    std::vector<std::int64_t> steps(n);
    b.snapshot({balls.data(), balls.data() + 2 * n, players.data(), players.data() + 2 * n * p,
                steps.data()});
    trace.insert(trace.end(), balls.begin(), balls.end());
    trace.insert(trace.end(), players.begin(), players.end());
    trace.insert(trace.end(), steps.begin(), steps.end());
    return trace;
}

TEST(Batch, ResultsDoNotDependOnTheWorkerCount) {
    const std::vector<double> one = run_everything(1);
    for (std::size_t workers : {2, 3}) {
        const std::vector<double> many = run_everything(workers);
        ASSERT_EQ(many.size(), one.size());
        EXPECT_EQ(std::memcmp(many.data(), one.data(), one.size() * sizeof(double)), 0)
            << workers << " workers";
    }
    set_worker_count(0);
}

TEST(Batch, RefusesBadArgumentsBeforeWritingAnything) {
    Batch b = make(3, 1, 1);
    scatter(b, 6);
    const std::vector<World> before = copies(b);
    auto unchanged = [&] {
        for (std::size_t e = 0; e < before.size(); ++e) {
            if (!same_state(b.world(e), before[e])) return false;
        }
        return true;
    };
    std::mt19937_64 rng(7);
    const Actions wrong = random_actions(3, 3, rng);
    std::vector<std::int8_t> scored(3, 42);
    BatchStatus refused = b.step(wrong.view, scored.data());
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->message,
              "physics_step: actions shape [3, 3, 3] != expected (n_envs=3, n_players=2, 3)");
    EXPECT_EQ(scored, std::vector<std::int8_t>(3, 42));

    const std::uint8_t mask[4] = {1, 1, 1, 1};
    refused = b.reset_mask(StridedView<std::uint8_t, 1>::dense(mask, {4}));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->message, "reset_mask: mask length 4 != n_envs 3");

    // Every array but the last is right: still nothing is placed.
    std::vector<double> ball(6, 1.0), players(12, 1.0);
    const std::int64_t steps[2] = {5, 5};
    refused = b.set_state({StridedView<double, 2>::dense(ball.data(), {3, 2}),
                           StridedView<double, 2>::dense(ball.data(), {3, 2}),
                           StridedView<double, 3>::dense(players.data(), {3, 2, 2}),
                           StridedView<double, 3>::dense(players.data(), {3, 2, 2}),
                           StridedView<std::int64_t, 1>::dense(steps, {2})});
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->kind, BatchError::Kind::InvalidArgument);
    EXPECT_EQ(refused->message, "set_state: steps length 2 != n_envs 3");
    EXPECT_TRUE(unchanged());

    // A strided mask (every other byte) resets exactly the environments it selects.
    const std::uint8_t strided[6] = {0, 9, 1, 9, 0, 9};
    ASSERT_FALSE(b.reset_mask({strided, {3}, {2}}));
    EXPECT_TRUE(same_state(b.world(0), before[0]));
    EXPECT_FALSE(same_state(b.world(1), before[1]));
    EXPECT_TRUE(same_state(b.world(2), before[2]));
}

TEST(Batch, TeamInputsCheckEveryDigitThenWriteOnlyTheTeamsRows) {
    const Batch b = make(3, 2, 3);
    const std::vector<std::uint64_t> slots = {4, 1};  // view order, not slot order
    // (3, 6) digits read through every other column of a (3, 12) buffer.
    std::vector<std::int64_t> buffer(3 * 12, 99);
    auto digit = [&](std::size_t e, std::size_t j) -> std::int64_t& {
        return buffer[e * 12 + 2 * j];
    };
    for (std::size_t e = 0; e < 3; ++e) {
        for (std::size_t j = 0; j < 6; ++j)
            digit(e, j) = static_cast<std::int64_t>((e + 2 * j + e * j) % (j % 3 == 2 ? 2 : 3));
    }
    const StridedView<std::int64_t, 2> digits{buffer.data(), {3, 6}, {96, 16}};
    auto call = [&](bool mirror, std::int64_t kick_value, std::vector<std::int64_t>& out) {
        out.assign(3 * 5 * 3, -7);
        bool wrote = true;
        const BatchStatus refused =
            b.team_inputs(digits, slots, mirror, kick_value, out.data(), wrote);
        EXPECT_FALSE(refused) << refused->message;
        return wrote;
    };
    std::vector<std::int64_t> out;
    for (const bool mirror : {false, true}) {
        for (const std::int64_t kick_value : {1, 2}) {
            ASSERT_TRUE(call(mirror, kick_value, out));
            std::vector<std::int64_t> want(3 * 5 * 3, -7);
            for (std::size_t e = 0; e < 3; ++e) {
                for (std::size_t i = 0; i < slots.size(); ++i) {
                    std::int64_t* input = &want[(e * 5 + slots[i]) * 3];
                    const std::int64_t dx = digit(e, 3 * i);
                    input[0] = mirror ? 1 - dx : dx - 1;
                    input[1] = digit(e, 3 * i + 1) - 1;
                    input[2] = digit(e, 3 * i + 2) * kick_value;
                }
            }
            EXPECT_EQ(out, want) << mirror << " " << kick_value;
        }
    }
    // One digit out of range anywhere: nothing is written.
    const std::array<std::array<std::int64_t, 3>, 6> bad = {
        {{0, 0, 3}, {2, 5, 2}, {1, 1, -1}, {2, 3, 3}, {0, 2, 2}, {1, 4, INT64_MIN}}};
    for (const auto& [e, j, value] : bad) {
        const std::int64_t kept = std::exchange(digit(e, j), value);
        EXPECT_FALSE(call(true, 2, out)) << e << " " << j << " " << value;
        EXPECT_EQ(out, std::vector<std::int64_t>(3 * 5 * 3, -7));
        digit(e, j) = kept;
    }

    bool wrote = true;
    auto refusal = [&](StridedView<std::int64_t, 2> d, std::vector<std::uint64_t> s,
                       std::int64_t kick) {
        const BatchStatus refused = b.team_inputs(d, s, false, kick, out.data(), wrote);
        EXPECT_FALSE(wrote);
        return refused ? refused->message : std::string("accepted");
    };
    EXPECT_EQ(refusal({buffer.data(), {2, 6}, {96, 16}}, slots, 2),
              "team_inputs: digits [2, 6] must be (n_envs=3, 3 * len(slots)=6)");
    EXPECT_EQ(refusal(digits, {4}, 2),
              "team_inputs: digits [3, 6] must be (n_envs=3, 3 * len(slots)=3)");
    EXPECT_EQ(refusal(digits, {1, 5}, 2), "team_inputs: slot 5 is not below n_players 5");
    EXPECT_EQ(refusal(digits, slots, 0).rfind("team_inputs: kick_value 0 must be 1", 0), 0u);
    EXPECT_EQ(out, std::vector<std::int64_t>(3 * 5 * 3, -7));
}

TEST(Batch, ConstructionReportsEachKindOfRefusal) {
    auto refusal = [](BatchOrError built) {
        EXPECT_TRUE(std::holds_alternative<BatchError>(built));
        return std::get_if<BatchError>(&built) ? std::get<BatchError>(built) : BatchError{};
    };
    EXPECT_EQ(refusal(Batch::classic({0, 1, 1})).message, "n_envs must be >= 1");
    EXPECT_EQ(refusal(Batch::classic({1, 0, 0})).message, "n_red + n_blue must be >= 1");
    EXPECT_EQ(refusal(Batch::classic({1, UINT64_MAX, 2})).message,
              "n_red + n_blue = 18446744073709551617 exceeds the max of 32 players");
    const BatchError text = refusal(Batch::from_stadium("{", {1, 1, 1}));
    EXPECT_EQ(text.kind, BatchError::Kind::InvalidArgument);
    EXPECT_EQ(text.message.rfind(BAD_JSON_PREFIX, 0), 0u) << text.message;
    const BatchError memory = refusal(Batch::classic({std::uint64_t{1} << 50, 1, 1}));
    EXPECT_EQ(memory.kind, BatchError::Kind::OutOfMemory);
    EXPECT_EQ(memory.message.rfind("a batch of 1125899906842624 environments needs ", 0), 0u);
    EXPECT_EQ(make(2, 1, 1, 0).tick_skip(), 1u);
}

TEST(Batch, LongCallsStopWhereTheCheckSaysSo) {
    // 4096 environments: a rollout chunk of 1024 steps, a prediction span of
    // a few hundred ticks.
    Batch stopped = make(4096, 1, 0), whole = make(4096, 1, 0);
    int asked = 0;
    auto stop_at_first = [&] { return ++asked == 1; };
    EXPECT_FALSE(stopped.rollout(3000, stop_at_first));
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(whole.rollout(1024));
    for (std::size_t e = 0; e < 4096; e += 455)
        EXPECT_TRUE(same_state(stopped.world(e), whole.world(e))) << e;

    asked = 0;
    auto never = [&] { return ++asked < 0; };
    ASSERT_TRUE(whole.rollout(2047, never));
    EXPECT_EQ(asked, 1);  // between the two chunks only

    const std::vector<std::uint64_t> offsets = {3000};
    std::vector<double> spans(2 * 4096), one_run(2 * 4096);
    asked = 0;
    EXPECT_TRUE(whole.predict(offsets, spans.data(), never));
    EXPECT_GE(asked, 1);
    const PredictionPlan plan = plan_prediction(offsets);
    for (std::size_t e = 0; e < 4096; e += 455) {
        predict_ball(whole.world(e), plan, std::span(reinterpret_cast<Vec2*>(&one_run[2 * e]), 1));
        EXPECT_EQ(std::memcmp(&spans[2 * e], &one_run[2 * e], 2 * sizeof(double)), 0) << e;
    }
    asked = 0;
    EXPECT_FALSE(whole.predict(offsets, spans.data(), stop_at_first));
    EXPECT_EQ(asked, 1);
}

}  // namespace
}  // namespace vexlo
