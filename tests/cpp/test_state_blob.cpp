// A state blob carries every changing field: a batch loaded from one steps
// to the same bits as the batch it came from, whatever the phase and kick
// state; a blob that is damaged or does not fit is refused before anything
// is written.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "arena.hpp"
#include "batch/state_blob.hpp"
#include "vexlo/batch.hpp"

namespace vexlo {
namespace {

using test::same_state;

std::string golden_text(const char* file) {
    std::ifstream in(std::string(VEXLO_GOLDEN_DIR) + "/" + file, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

Batch build(const std::string& text, std::uint64_t n, std::uint64_t red, std::uint64_t blue) {
    BatchOrError built = text.empty() ? Batch::classic({n, red, blue, 2400, 2})
                                      : Batch::from_stadium(text, {n, red, blue, 2400, 2});
    if (auto* error = std::get_if<BatchError>(&built)) ADD_FAILURE() << error->message;
    return std::get<Batch>(std::move(built));
}

std::vector<std::uint8_t> save(const Batch& b, const EnvMask& mask = std::nullopt) {
    BlobOrError blob = b.save_state(mask);
    if (auto* error = std::get_if<BatchError>(&blob)) ADD_FAILURE() << error->message;
    return std::get<std::vector<std::uint8_t>>(std::move(blob));
}

// Players run at the ball and kick, holding and re-arming at random, so
// that goals, countdowns, held kicks and cooldowns all occur.
struct Driver {
    std::mt19937_64 rng;
    void step(Batch& b, std::vector<std::int64_t>& actions) {
        std::vector<std::int8_t> scored(b.n_envs());
        const auto n = static_cast<std::ptrdiff_t>(b.n_envs());
        const auto p = static_cast<std::ptrdiff_t>(b.n_players());
        ASSERT_FALSE(b.step(StridedView<std::int64_t, 3>::dense(actions.data(), {n, p, 3}),
                            scored.data()));
    }
    std::vector<std::int64_t> next(const Batch& b) {
        std::vector<std::int64_t> a(b.n_envs() * b.n_players() * 3);
        for (std::size_t e = 0; e < b.n_envs(); ++e) {
            const Vec2 ball = b.world(e).ball().pos;
            for (std::size_t s = 0; s < b.n_players(); ++s) {
                const Vec2 me = b.world(e).player(s).pos;
                std::int64_t* at = &a[3 * (e * b.n_players() + s)];
                at[0] = rng() % 4 == 0 ? 0 : (ball.x > me.x) - (ball.x < me.x);
                at[1] = rng() % 4 == 0 ? 0 : (ball.y > me.y) - (ball.y < me.y);
                at[2] = static_cast<std::int64_t>(rng() % 3);
            }
        }
        return a;
    }
};

void expect_same(const Batch& a, const Batch& b, const std::string& where) {
    for (std::size_t e = 0; e < a.n_envs(); ++e)
        ASSERT_TRUE(same_state(a.world(e), b.world(e))) << where << " env " << e;
}

TEST(StateBlob, ResumingFromABlobStepsAsTheUninterruptedBatch) {
    const std::string arena = golden_text("curved_arena.vxs");
    for (const auto& [text, red, blue] :
         {std::tuple{std::string(), 1, 1}, std::tuple{std::string(), 3, 3}, std::tuple{arena, 1, 2}}) {
        Batch original = build(text, 12, red, blue);
        original.set_kick_rate_limit(3, 2, 4);  // cooldowns and credits both matter
        Driver driver{std::mt19937_64(red * 7 + blue)};
        bool phases[3] = {}, cooling = false, held = false;
        for (int call = 0; call < 400; ++call) {
            if (call % 40 == 0) {
                Batch resumed = build(text, 12, red, blue);
                BatchStatus loaded = resumed.load_state(save(original));
                ASSERT_FALSE(loaded) << loaded->message;
                expect_same(original, resumed, "loaded");
                for (int k = 0; k < 30; ++k) {
                    std::vector<std::int64_t> a = driver.next(original);
                    driver.step(original, a);
                    driver.step(resumed, a);
                }
                expect_same(original, resumed, "after 30 steps");
            }
            std::vector<std::int64_t> a = driver.next(original);
            driver.step(original, a);
            for (std::size_t e = 0; e < original.n_envs(); ++e) {
                const World& w = original.world(e);
                phases[static_cast<int>(w.phase)] = true;
                for (std::size_t s = 0; s < w.n_players; ++s) {
                    cooling |= w.kick_cooldown[s] > 0;
                    held |= w.kick_held[s];
                }
            }
        }
        EXPECT_TRUE(phases[0] && phases[1] && phases[2]) << "every phase was saved and resumed";
        EXPECT_TRUE(cooling && held);
    }
}

TEST(StateBlob, MasksPickEnvironmentsOnBothSides) {
    Batch a = build("", 5, 2, 1);
    Batch b = build("", 4, 2, 1);
    Driver driver{std::mt19937_64(5)};
    for (int k = 0; k < 50; ++k) {
        std::vector<std::int64_t> act = driver.next(a);
        driver.step(a, act);
    }
    const std::uint8_t from[5] = {0, 1, 0, 0, 1}, to[4] = {1, 0, 0, 1};
    const std::vector<std::uint8_t> blob =
        save(a, StridedView<std::uint8_t, 1>::dense(from, {5}));
    const World untouched = b.world(1);
    ASSERT_FALSE(b.load_state(blob, StridedView<std::uint8_t, 1>::dense(to, {4})));
    EXPECT_TRUE(same_state(b.world(0), a.world(1)));
    EXPECT_TRUE(same_state(b.world(3), a.world(4)));
    EXPECT_TRUE(same_state(b.world(1), untouched));
    std::vector<std::uint64_t> da(5), db(4);
    a.digest(da.data());
    b.digest(db.data());
    EXPECT_EQ(db[0], da[1]);
    EXPECT_EQ(db[3], da[4]);
    EXPECT_NE(db[1], da[1]);
    // Three selected, a blob of two.
    const std::uint8_t three[4] = {1, 1, 0, 1};
    EXPECT_TRUE(b.load_state(blob, StridedView<std::uint8_t, 1>::dense(three, {4})));
}

TEST(StateBlob, DamagedOrForeignBlobsAreRefusedAndChangeNothing) {
    Batch target = build("", 3, 2, 2);
    Batch source = build("", 3, 2, 2);
    Driver driver{std::mt19937_64(9)};
    for (int k = 0; k < 40; ++k) {
        std::vector<std::int64_t> act = driver.next(source);
        driver.step(source, act);
    }
    const std::vector<std::uint8_t> good = save(source);
    std::vector<std::uint64_t> before(3), after(3);
    target.digest(before.data());
    auto refused = [&](std::vector<std::uint8_t> blob, const char* words) {
        BatchStatus status = target.load_state(blob);
        ASSERT_TRUE(status) << words;
        EXPECT_NE(status->message.find(words), std::string::npos) << status->message;
        target.digest(after.data());
        EXPECT_EQ(before, after) << words;
    };
    refused({good.begin(), good.end() - 1}, "truncated");
    refused({good.begin(), good.begin() + 20}, "truncated");
    for (std::size_t at : {std::size_t{30}, std::size_t{100}, good.size() - 1}) {
        std::vector<std::uint8_t> flipped = good;
        flipped[at] ^= 0x10;
        refused(flipped, "checksum");
    }
    std::vector<std::uint8_t> v = good;
    v[8] = 2;
    refused(v, "version 2");
    v = good;
    v[0] = 'X';
    refused(v, "not a state blob");
    refused(save(build("", 3, 1, 3)), "2v2");
    refused(save(build(golden_text("curved_arena.vxs"), 3, 2, 2)), "another stadium");
    refused(save(build("", 2, 2, 2)), "holds 2 environments, but 3");
    // Fields out of range, sealed with a valid checksum: the last record's
    // phase, then the kick flag of its last player, then reserved bytes.
    const std::size_t record = (good.size() - 56) / 3;
    v = good;
    v[48 + 2 * record + 56] = 3;
    seal_blob(v.data(), v.size());
    refused(v, "environment 2 of the blob: phase 3");
    v = good;
    v[good.size() - 8 - 2] = 2;
    seal_blob(v.data(), v.size());
    refused(v, "player 3: the kick flags");
    v = good;
    v[48 + 60] = 1;
    seal_blob(v.data(), v.size());
    refused(v, "environment 0 of the blob: the reserved bytes");
    // The same batch and stadium, but the other side: digests differ.
    ASSERT_FALSE(target.load_state(good));
    target.digest(after.data());
    std::vector<std::uint64_t> want(3);
    source.digest(want.data());
    EXPECT_EQ(after, want);
    EXPECT_NE(before, after);
}

}  // namespace
}  // namespace vexlo
