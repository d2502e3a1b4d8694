#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <utility>

#include "arena.hpp"
#include "lane_checks.hpp"
#include "physics/clear_box.hpp"
#include "physics/contacts.hpp"

namespace vexlo {
namespace {

using test::arena;
using test::same_state;

bool same_disc(const Disc& a, const Disc& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

ClearBox box_for(const World& w, const Disc& d) {
    return find_clear_box(w.planes, w.segments, d.radius, d.c_group, d.c_mask);
}

// Every plane and segment the disc collides with leaves it untouched, from
// anywhere in the box, the edges included.
void expect_no_wall_reached(const World& w, Disc d, const ClearBox& box, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int i = 0; i < 20000; ++i) {
        const double fx = i % 4 == 0 ? 0.0 : i % 4 == 1 ? 1.0 : u(rng);
        const double fy = i % 8 < 4 ? u(rng) : (i % 2 == 0 ? 0.0 : 1.0);
        d.pos = {std::nextafter(box.x0 + fx * (box.x1 - box.x0), 0.0),
                 std::nextafter(box.y0 + fy * (box.y1 - box.y0), 0.0)};
        // Contacts that move a disc by zero still turn -0.0 into +0.0.
        if (i % 16 == 14) d.pos.x = -0.0;
        if (i % 16 == 15) d.pos.y = -0.0;
        if (!box.contains(d.pos)) continue;
        d.vel = {u(rng) * 20 - 10, u(rng) * 20 - 10};
        for (const Plane& p : w.planes) {
            if (!flag::collides(d.c_group, d.c_mask, p.c_group, p.c_mask)) continue;
            Disc after = d;
            disc_plane(after, p);
            ASSERT_TRUE(same_disc(after, d)) << "plane at " << d.pos.x << ", " << d.pos.y;
        }
        for (const Segment& s : w.segments) {
            if (!flag::collides(d.c_group, d.c_mask, s.c_group, s.c_mask)) continue;
            Disc after = d;
            disc_segment(after, s);
            ASSERT_TRUE(same_disc(after, d)) << "segment at " << d.pos.x << ", " << d.pos.y;
        }
    }
}

TEST(ClearBox, NoWallReachesADiscInside) {
    std::mt19937_64 rng(11);
    const World plain = arena(1);
    World extra = plain;  // a slanted plane and a far-reaching one-sided wall that bound the box
    extra.segments.push_back(test::wall_segment({-100, 60}, {-20, 95}, -25.0));
    extra.planes.push_back(Plane{{3, -1}, -120, 0.5, flag::FLAG_WALL, flag::FLAG_ALL});
    for (const World& w : {plain, extra}) {
        Disc big = w.ball();
        big.radius = 45.0;
        for (const Disc& d : {w.ball(), w.player(0), w.player(4), big}) {
            const ClearBox box = box_for(w, d);
            ASSERT_FALSE(box.empty());
            EXPECT_TRUE(box.contains({0, 0}));
            expect_no_wall_reached(w, d, box, rng);
        }
    }
    // The box is worth having: the ball's spans most of the arena.
    const ClearBox ball = box_for(plain, plain.ball());
    EXPECT_GT(ball.x1 - ball.x0, 250.0);
    EXPECT_GT(ball.y1 - ball.y0, 140.0);
}

// How far a box keeps from where a wall reaches a disc of `radius`: from
// the plane's contact line, or from the segment's reach rectangle (its
// ends, or its whole circle, grown by max(radius, |bias|)). Negative inside.
double reach_gap(const ClearBox& box, const Plane& p, double radius) {
    const double q = 1.0 / std::sqrt(length_sq(p.normal));
    double gap = std::numeric_limits<double>::infinity();
    for (const Vec2 c : {Vec2{box.x0, box.y0}, Vec2{box.x0, box.y1}, Vec2{box.x1, box.y0},
                         Vec2{box.x1, box.y1}})
        gap = std::min(gap, c.x * p.normal.x * q + c.y * p.normal.y * q - (p.dist + radius));
    return gap;
}

ClearBox reach_of(const Segment& s, double radius) {
    const double reach = std::max(radius, std::abs(s.bias));
    const double r = s.arc_radius + reach;
    return s.curve_f != 0.0
               ? ClearBox{s.center.x - r, s.center.y - r, s.center.x + r, s.center.y + r}
               : ClearBox{std::min(s.v0.x, s.v1.x) - reach, std::min(s.v0.y, s.v1.y) - reach,
                          std::max(s.v0.x, s.v1.x) + reach, std::max(s.v0.y, s.v1.y) + reach};
}

double reach_gap(const ClearBox& box, const Segment& s, double radius) {
    const ClearBox walls = reach_of(s, radius);
    return std::max({walls.x0 - box.x1, box.x0 - walls.x1, walls.y0 - box.y1, box.y0 - walls.y1});
}

// (1 + scale) * 1e-6, scale being the largest magnitude among the walls'
// numbers and the radius, a hair less against rounding here.
double margin_for(const World& w, double radius) {
    double scale = std::abs(radius);
    for (const Plane& p : w.planes) scale = std::max(scale, std::abs(p.dist));
    for (const Segment& s : w.segments) {
        for (double x : {s.v0.x, s.v0.y, s.v1.x, s.v1.y, s.center.x, s.center.y, s.bias, s.arc_radius})
            scale = std::max(scale, std::abs(x));
    }
    return (1.0 + scale) * 1e-6 * (1.0 - 1e-9);
}

World arena_with_slanted_walls() {
    World w = arena(1);
    w.segments.push_back(test::wall_segment({-100, 60}, {-20, 95}, -25.0));
    w.planes.push_back(Plane{{3, -1}, -120, 0.5, flag::FLAG_WALL, flag::FLAG_ALL});
    return w;
}

// The box keeps a margin of (1 + scale) * 1e-6 from the reach of every wall:
// rounding in the contact tests never comes near it.
TEST(ClearBox, KeepsItsMarginFromEveryWall) {
    const World w = arena_with_slanted_walls();
    Disc big = w.ball();
    big.radius = 45.0;
    for (const Disc& d : {w.ball(), w.player(0), big}) {
        const double margin = margin_for(w, d.radius);
        const ClearBox box = box_for(w, d);
        ASSERT_FALSE(box.empty());
        double tightest = std::numeric_limits<double>::infinity();
        for (const Plane& p : w.planes) {
            if (flag::collides(d.c_group, d.c_mask, p.c_group, p.c_mask))
                tightest = std::min(tightest, reach_gap(box, p, d.radius));
        }
        for (const Segment& s : w.segments) {
            if (flag::collides(d.c_group, d.c_mask, s.c_group, s.c_mask))
                tightest = std::min(tightest, reach_gap(box, s, d.radius));
        }
        EXPECT_GE(tightest, margin) << "radius " << d.radius;
        EXPECT_LT(tightest, 2.0 * margin) << "some wall bounds the box";
    }
}

// The walls near a cell (those the lanes test for a disc whose centre lies
// in it) leave out only walls that the disc's bits never meet or whose
// reach the whole cell keeps clear of by the margin. Random cells, and
// cells just within the margin of each wall's reach, which keep the wall.
TEST(ClearBox, WallsNearACellLeaveOutOnlyWallsOutOfReach) {
    const World w = arena_with_slanted_walls();
    Disc big = w.ball(), kickoff = w.player(1);
    big.radius = 45.0;
    kickoff.c_mask = KICKOFF_CMASK_BLUE;
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (const Disc& d : {w.ball(), w.player(0), kickoff, big}) {
        const double margin = margin_for(w, d.radius);
        std::vector<ClearBox> cells;
        for (int i = 0; i < 600; ++i) {
            const double x = u(rng) * 500 - 260, y = u(rng) * 300 - 160;
            cells.push_back({x, y, x + 1 + u(rng) * 60, y + 1 + u(rng) * 60});
        }
        for (const Segment& s : w.segments) {  // a cell right of each reach, by half the margin
            const ClearBox r = reach_of(s, d.radius);
            cells.push_back({r.x1 + margin / 2, r.y0, r.x1 + margin / 2 + 10, r.y0 + 10});
        }
        for (const Plane& p : w.planes) {  // a cell with a corner on each contact line, plus half the margin
            const double q = 1.0 / std::sqrt(length_sq(p.normal));
            const double off = p.dist + d.radius + margin / 2;
            const double cx = p.normal.x * q * off, cy = p.normal.y * q * off;
            cells.push_back({cx - (p.normal.x < 0 ? 10 : 0), cy - (p.normal.y < 0 ? 10 : 0),
                             cx + (p.normal.x < 0 ? 0 : 10), cy + (p.normal.y < 0 ? 0 : 10)});
        }
        for (const ClearBox& cell : cells) {
            const std::uint64_t near =
                walls_near(cell, w.planes, w.segments, d.radius, d.c_group, d.c_mask);
            for (std::size_t i = 0; i < w.planes.size() + w.segments.size(); ++i) {
                const bool plane = i < w.planes.size();
                const Plane* p = plane ? &w.planes[i] : nullptr;
                const Segment* s = plane ? nullptr : &w.segments[i - w.planes.size()];
                const bool meets = plane ? flag::collides(d.c_group, d.c_mask, p->c_group, p->c_mask)
                                         : flag::collides(d.c_group, d.c_mask, s->c_group, s->c_mask);
                if ((near >> i) & 1) {
                    EXPECT_TRUE(meets) << "wall " << i;
                } else if (meets) {
                    const double gap = plane ? reach_gap(cell, *p, d.radius) : reach_gap(cell, *s, d.radius);
                    EXPECT_GE(gap, margin) << "wall " << i << " cell " << cell.x0 << ", " << cell.y0
                                           << " radius " << d.radius;
                }
            }
        }
    }
}

// Walls whose arithmetic leaves the plain geometry: a plane whose normal's
// square underflows (infinite unit normal, which pushes discs on one side to
// infinity), planes of zero or overflowing length, one-sided walls that reach
// far, and discs of negative radius. The box may be empty but never wrong.
TEST(ClearBox, OddWallsNeverReachADiscInside) {
    std::mt19937_64 rng(5);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::int64_t wall = flag::FLAG_WALL, all = flag::FLAG_ALL;
    const std::vector<Plane> planes = {Plane{{1e-200, 1e-200}, 0, 0.5, wall, all},
                                       Plane{{-1e-200, 1e-170}, -3, 0.5, wall, all},
                                       Plane{{0, 0}, 5, 0.5, wall, all},
                                       Plane{{1e200, 0}, -100, 0.5, wall, all},
                                       Plane{{1e-170, 0}, -150, 0.5, wall, all},
                                       Plane{{nan, 1}, -100, 0.5, wall, all}};
    for (const Plane& odd : planes) {
        World w = arena(1);
        w.segments.push_back(test::wall_segment({150, 150}, {200, 120}, -25.0));  // moves the second seed
        w.planes.push_back(odd);
        for (double radius : {10.0, -10.0, 0.0}) {
            Disc d = w.ball();
            d.radius = radius;
            expect_no_wall_reached(w, d, box_for(w, d), rng);
        }
    }
    // A straight wall whose squared length overflows has a zero normal: it
    // touches every disc beside it, moving it by (-0.0, 0.0) times the push.
    World long_wall = arena(1);
    long_wall.planes.clear();
    long_wall.segments = {test::wall_segment({-325, -1.4e154}, {1.4e154, -1.4e154})};
    expect_no_wall_reached(long_wall, long_wall.ball(), box_for(long_wall, long_wall.ball()), rng);
    // Far-reaching one-sided walls, and walls with ends that are not numbers.
    const Segment odd_segments[] = {test::wall_segment({-10, 50}, {10, 50}, 1e300),
                                    test::wall_segment({-10, 50}, {10, 50}, nan),
                                    test::wall_segment({nan, 50}, {10, 50}),
                                    test::wall_segment({-10, 50}, {10, -nan}, -5.0),
                                    test::arc_segment({nan, 0}, 30, {30, 0}, {0, 30}, 1.0, wall, all),
                                    test::arc_segment({0, 50}, 30, {nan, 0}, {0, 30}, -1.0, wall, all)};
    for (const Segment& odd : odd_segments) {
        World w = arena(1);
        w.segments.push_back(odd);
        expect_no_wall_reached(w, w.ball(), box_for(w, w.ball()), rng);
    }
}

TEST(ClearBox, EmptyWhenNoneCanBeTrusted) {
    World w = arena(1);
    // Kickoff barriers around the centre, where the search starts.
    Disc held_back = w.player(3);
    held_back.c_mask |= flag::FLAG_BLUE_KO;
    EXPECT_TRUE(box_for(w, held_back).empty());
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE(find_clear_box(w.planes, w.segments, nan, flag::FLAG_BALL, flag::FLAG_ALL).empty());
    World far = w;
    far.segments[0].v1 = {inf, 0};
    EXPECT_TRUE(box_for(far, far.ball()).empty());
    // A plane without a direction is never touched and changes nothing.
    World flat = w;
    flat.planes.push_back(Plane{{0, 0}, 5, 0.5, flag::FLAG_WALL, flag::FLAG_ALL});
    const ClearBox a = box_for(w, w.ball()), b = box_for(flat, flat.ball());
    EXPECT_TRUE(a.x0 == b.x0 && a.x1 == b.x1 && a.y0 == b.y0 && a.y1 == b.y1);
}

using test::LanePredictor;
using test::LaneStepper;

// Balls and players on a fine grid over the whole arena, neighbours sharing a
// lane group, so that groups sit wholly inside the clear boxes, wholly
// outside and across their edges: one tick and a prediction give the scalar
// bits everywhere.
std::vector<World> arena_grid(const World& base, double spacing) {
    std::vector<double> rows{-0.0};  // a ball gliding along y = -0.0 keeps its sign unless touched
    for (double y = -112.0; y <= 112.0; y += 1.7 * spacing) rows.push_back(y);
    std::vector<World> worlds;
    for (double y : rows) {
        for (double x = -212.0; x <= 212.0; x += 1.9 * spacing) {
            World w = base;
            w.phase = Phase::Playing;
            w.ball().pos = {x, y};
            w.ball().vel = {std::sin(x) * 4.0, y == 0.0 ? -0.0 : std::cos(y) * 4.0};
            for (std::size_t p = 0; p < w.n_players; ++p)
                w.player(p).pos = {-x + 7.0 * static_cast<double>(p), y * 0.9};
            worlds.push_back(w);
        }
    }
    return worlds;
}

void expect_grid_matches(LaneStepper stepper, LanePredictor predictor, std::size_t width,
                         const World& base, double spacing = 1.0) {
    const std::vector<World> worlds = arena_grid(base, spacing);
    const std::vector<PlayerInput> in(base.n_players, PlayerInput{1, -1, 0});
    const std::vector<std::uint64_t> offsets{1, 4};
    const PredictionPlan plan = plan_prediction(offsets);
    for (std::size_t first = 0; first + width <= worlds.size(); first += width) {
        std::vector<World> scalar(worlds.begin() + first, worlds.begin() + first + width);
        std::vector<World> lanes = scalar;
        std::vector<World*> ps, pl;
        std::vector<const PlayerInput*> inputs(width, in.data());
        std::vector<std::int8_t> scored(width);
        for (std::size_t l = 0; l < width; ++l) {
            ps.push_back(&scalar[l]);
            pl.push_back(&lanes[l]);
        }
        ASSERT_TRUE(test::predicts_like_scalar(predictor, lanes, plan, true));
        step_scalar(LaneRun{ps.data(), width, inputs.data(), inputs.data(), 1, false, scored.data()});
        ASSERT_TRUE(stepper(LaneRun{pl.data(), width, inputs.data(), inputs.data(), 1, false,
                                    scored.data(), true}));
        for (std::size_t l = 0; l < width; ++l)
            ASSERT_TRUE(same_state(scalar[l], lanes[l])) << "world " << first + l;
    }
}

// The same grid through the scalar tick of a lone world, which skips the
// wall tests its batch's clear boxes and wall grid allow: the tick without
// them gives the same bits everywhere.
void expect_lone_worlds_match(const World& base, double spacing = 1.0) {
    std::vector<World> plain = arena_grid(base, spacing), boxed = plain;
    const auto workspace = make_lane_workspace(base, 1, 1);
    const std::vector<PlayerInput> in(base.n_players, PlayerInput{1, -1, 0});
    const PlayerInput* inputs = in.data();
    std::int8_t scored = 0;
    for (std::size_t i = 0; i < plain.size(); ++i) {
        World* p = &plain[i];
        World* b = &boxed[i];
        step_scalar(LaneRun{&p, 1, &inputs, &inputs, 3, false, &scored});
        step_scalar(LaneRun{&b, 1, &inputs, &inputs, 3, false, &scored, true, workspace.get(), 0});
        ASSERT_TRUE(same_state(plain[i], boxed[i])) << "world " << i;
    }
}

// Balls flying at the posts, with the posts moved between calls, and with
// lanes whose posts stand in different places: every prediction matches.
void expect_moved_posts_seen(LanePredictor predictor, std::size_t width) {
    const std::vector<std::uint64_t> offsets{2, 9, 30};
    const PredictionPlan plan = plan_prediction(offsets);
    for (int round = 0; round < 6; ++round) {
        std::vector<World> worlds;
        for (std::size_t l = 0; l < width; ++l) {
            World w = arena(3);
            w.phase = Phase::Playing;
            const double lane = static_cast<double>(l);
            // The post at (140, 40) stays, moves into the ball's path, or
            // stands somewhere else in every lane.
            if (round % 3 == 1) w.discs[1].pos = {100.0, 0.0};
            if (round % 3 == 2) w.discs[1].pos = {100.0 - 10.0 * lane, 0.0};
            w.ball().pos = {60.0 + 3.0 * lane, round / 3 == 0 ? 0.0 : 4.0};
            w.ball().vel = {9.0, 0.0};
            worlds.push_back(w);
        }
        ASSERT_TRUE(test::predicts_like_scalar(predictor, worlds, plan, true)) << "round " << round;
    }
}

// Stadium discs whose reach the box cannot take at face value: a negative
// combined radius still touches within its magnitude (and flings the ball
// across), and squares that overflow or are not numbers make contacts out of
// far-off discs. The ball at (50, 0) in every lane.
void expect_odd_discs_seen(LanePredictor predictor, std::size_t width) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<std::uint64_t> offsets{1, 2, 3};
    const PredictionPlan plan = plan_prediction(offsets);
    const std::pair<Vec2, double> discs[] = {{{0, 0}, -100.0}, {{0, 0}, -20.0},
                                             {{-1.797e308, 0}, 1e300}, {{0, 1e200}, 1e200},
                                             {{-inf, 0}, 10.0}, {{0, 0}, nan}, {{nan, 0}, 10.0},
                                             {{300, 0}, -inf}};
    for (auto [pos, radius] : discs) {
        World w = arena(3);
        w.discs[1].pos = pos;
        w.discs[1].radius = radius;
        w.ball().pos = {50, 0};
        w.ball().vel = {1, 0};
        const std::vector<World> worlds(width, w);
        ASSERT_TRUE(test::predicts_like_scalar(predictor, worlds, plan, true))
            << "disc at " << pos.x << ", " << pos.y << " radius " << radius;
    }
}

TEST(ClearBox, PredictionsSeeMovedStadiumDiscs) {
    for (const test::LaneWidth& isa : test::lane_widths()) {
        expect_moved_posts_seen(isa.predict, isa.width);
        expect_odd_discs_seen(isa.predict, isa.width);
    }
    if (const auto why = test::untested_widths()) GTEST_SKIP() << *why;
}

TEST(ClearBox, LanesMatchTheScalarTickAllOverTheArena) {
    // Also with walls that touch where they seem not to reach: a plane whose
    // normal's square underflows, and a wall whose length overflows.
    World odd = arena(2);
    odd.planes.push_back(Plane{{1e-200, 1e-200}, 0, 0.5, flag::FLAG_WALL, flag::FLAG_ALL});
    odd.segments.push_back(test::wall_segment({150, 150}, {200, 120}, -25.0));
    World long_wall = arena(2);
    long_wall.planes.clear();
    long_wall.segments = {test::wall_segment({-325, -1.4e154}, {1.4e154, -1.4e154})};
    for (const test::LaneWidth& isa : test::lane_widths()) {
        expect_grid_matches(isa.step, isa.predict, isa.width, arena(2));
        for (const World& base : {odd, long_wall})
            expect_grid_matches(isa.step, isa.predict, isa.width, base, 3.0);
    }
    expect_lone_worlds_match(arena(2));
    for (const World& base : {odd, long_wall}) expect_lone_worlds_match(base, 3.0);
    if (const auto why = test::untested_widths()) GTEST_SKIP() << *why;
}

}  // namespace
}  // namespace vexlo
