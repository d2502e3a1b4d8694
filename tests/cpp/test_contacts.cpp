#include <gtest/gtest.h>

#include <cmath>

#include "engine_world.hpp"
#include "physics/contacts.hpp"

namespace vexlo {
namespace {

using test::same_bits;

using test::contact_disc;

void expect_vec(Vec2 got, double x, double y) {
    EXPECT_TRUE(same_bits(got.x, x)) << got.x << " vs " << x;
    EXPECT_TRUE(same_bits(got.y, y)) << got.y << " vs " << y;
}

TEST(DiscDisc, OverlapSplitsByInverseMassAndReflects) {
    Disc a = contact_disc({0, 0}, {1, 0}, 6, 1, 0.5);
    Disc b = contact_disc({10, 0}, {0, 0}, 6, 1, 0.5);
    disc_disc(a, b);
    expect_vec(a.pos, -1.0, 0.0);
    expect_vec(b.pos, 11.0, 0.0);
    expect_vec(a.vel, 0.375, 0.0);
    expect_vec(b.vel, 0.625, 0.0);
}

TEST(DiscDisc, ExactlyTouchingStillReflects) {
    Disc a = contact_disc({0, 0}, {1, 0}, 6, 1, 0.5);
    Disc b = contact_disc({12, 0}, {0, 0}, 6, 1, 0.5);
    disc_disc(a, b);
    expect_vec(a.pos, 0.0, 0.0);
    expect_vec(b.pos, 12.0, 0.0);
    expect_vec(a.vel, 0.375, 0.0);
    expect_vec(b.vel, 0.625, 0.0);
}

TEST(DiscDisc, SeparatingDiscsOnlyMoveApart) {
    Disc a = contact_disc({0, 0}, {-1, 0}, 6, 1, 0.5);
    Disc b = contact_disc({10, 0}, {0, 0}, 6, 1, 0.5);
    disc_disc(a, b);
    expect_vec(a.pos, -1.0, 0.0);
    expect_vec(a.vel, -1.0, 0.0);
    expect_vec(b.vel, 0.0, 0.0);
}

TEST(DiscDisc, ImmovableDiscTakesNoShare) {
    Disc post = contact_disc({0, 0}, {0, 0}, 8, 0, 0.5);
    Disc ball = contact_disc({15, 0}, {-2, 0}, 10, 1, 0.5);
    disc_disc(post, ball);
    expect_vec(post.pos, 0.0, 0.0);
    expect_vec(post.vel, 0.0, 0.0);
    expect_vec(ball.pos, 18.0, 0.0);
    expect_vec(ball.vel, 0.5, 0.0);  // -2 + (-1) * ((0.25 + 1) * -2)
}

TEST(DiscDisc, TwoImmovableDiscsStayPutWithoutNaN) {
    Disc a = contact_disc({0, 0}, {1, 2}, 8, 0, 0.5);
    Disc b = contact_disc({5, 0}, {-3, 0}, 8, 0, 0.5);
    disc_disc(a, b);
    expect_vec(a.pos, 0.0, 0.0);
    expect_vec(b.pos, 5.0, 0.0);
    expect_vec(a.vel, 1.0, 2.0);
    expect_vec(b.vel, -3.0, 0.0);
}

TEST(DiscDisc, SameCentreOrApartMeansNoContact) {
    Disc a = contact_disc({3, 3}, {1, 0}, 6, 1, 0.5);
    Disc b = contact_disc({3, 3}, {0, 0}, 6, 1, 0.5);
    disc_disc(a, b);
    expect_vec(a.pos, 3.0, 3.0);
    expect_vec(a.vel, 1.0, 0.0);
    Disc c = contact_disc({20, 0}, {-5, 0}, 6, 1, 0.5);
    Disc d = contact_disc({32.5, 0}, {5, 0}, 6, 1, 0.5);
    disc_disc(c, d);
    expect_vec(c.vel, -5.0, 0.0);
    expect_vec(d.pos, 32.5, 0.0);
}

TEST(DiscPlane, StoredNormalLengthScalesOnlyTheBounce) {
    Disc d = contact_disc({0, 5}, {0, -1}, 10, 1, 0.5);
    disc_plane(d, Plane{{0, 2}, 0.0, 0.5, 0, 0});
    expect_vec(d.pos, 0.0, 10.0);
    expect_vec(d.vel, 0.0, 1.5);
}

TEST(DiscPlane, ExactTouchIsNoContact) {
    Disc d = contact_disc({0, 10}, {0, -1}, 10, 1, 0.5);
    disc_plane(d, Plane{{0, 1}, 0.0, 0.5, 0, 0});
    expect_vec(d.pos, 0.0, 10.0);
    expect_vec(d.vel, 0.0, -1.0);
}

TEST(SegmentGeometry, StraightInRangeOnlyBetweenTheEnds) {
    auto hit = segment_no_curve({5, 1}, {0, 0}, {10, 0});
    ASSERT_TRUE(hit.has_value());
    EXPECT_TRUE(same_bits(hit->dist, 1.0));
    expect_vec(hit->normal, -0.0, 1.0);
    EXPECT_FALSE(segment_no_curve({0, 1}, {0, 0}, {10, 0}).has_value());
    EXPECT_FALSE(segment_no_curve({10, 1}, {0, 0}, {10, 0}).has_value());
    EXPECT_FALSE(segment_no_curve({4, 4}, {4, 4}, {4, 4}).has_value());
}

TEST(SegmentGeometry, ArcSectorDependsOnTheSignOfCurve) {
    auto hit = segment_curve({30, 40}, {0, 0}, 10, {1, 0}, {0, 1}, 1.0);
    ASSERT_TRUE(hit.has_value());
    EXPECT_TRUE(same_bits(hit->dist, 40.0));
    expect_vec(hit->normal, 0.6, 0.8);
    EXPECT_FALSE(segment_curve({30, 40}, {0, 0}, 10, {1, 0}, {0, 1}, -1.0).has_value());
    auto reflex = segment_curve({30, -40}, {0, 0}, 10, {1, 0}, {0, 1}, -1.0);
    ASSERT_TRUE(reflex.has_value());
    EXPECT_TRUE(same_bits(reflex->dist, 40.0));
    expect_vec(reflex->normal, 0.6, -0.8);
    // A centre exactly on the arc's centre has no normal.
    EXPECT_FALSE(segment_curve({0, 0}, {0, 0}, 10, {1, 0}, {0, 1}, -1.0).has_value());
}

Segment wall(double bias) {
    Segment s;
    s.v0 = {0, 0};
    s.v1 = {100, 0};
    s.b_coef = 1.0;
    s.bias = bias;
    return s;
}

TEST(SegmentResponse, TwoSidedPushesBackToTheCentresSide) {
    Disc below = contact_disc({50, -4}, {0, 1}, 10, 1, 0.5);
    disc_segment(below, wall(0.0));
    expect_vec(below.pos, 50.0, -10.0);
    expect_vec(below.vel, 0.0, -0.5);
    Disc above = contact_disc({50, 4}, {0, -1}, 10, 1, 0.5);
    disc_segment(above, wall(0.0));
    expect_vec(above.pos, 50.0, 10.0);
    expect_vec(above.vel, 0.0, 0.5);
}

TEST(SegmentResponse, ExactTouchIsNoContact) {
    Disc d = contact_disc({50, 10}, {0, -1}, 10, 1, 0.5);
    disc_segment(d, wall(0.0));
    expect_vec(d.pos, 50.0, 10.0);
    expect_vec(d.vel, 0.0, -1.0);
}

TEST(SegmentResponse, PositiveBiasHoldsTheNormalSideWithinItsThickness) {
    // 3 behind a wall of thickness 5: pushed through to the normal's side.
    Disc near = contact_disc({50, -3}, {0, 0}, 10, 1, 0.5);
    disc_segment(near, wall(5.0));
    expect_vec(near.pos, 50.0, 10.0);
    // 6 behind it: passes.
    Disc far = contact_disc({50, -6}, {0, 0}, 10, 1, 0.5);
    disc_segment(far, wall(5.0));
    expect_vec(far.pos, 50.0, -6.0);
}

TEST(SegmentResponse, NegativeBiasHoldsTheOtherSide) {
    Disc near = contact_disc({50, 3}, {0, 0}, 10, 1, 0.5);
    disc_segment(near, wall(-5.0));
    expect_vec(near.pos, 50.0, -10.0);
    Disc far = contact_disc({50, 6}, {0, 0}, 10, 1, 0.5);
    disc_segment(far, wall(-5.0));
    expect_vec(far.pos, 50.0, 6.0);
}

TEST(DiscVertex, ExactTouchCountsAndReflects) {
    Vec2 pos{10, 0};
    Vec2 vel{-1, 0};
    disc_vertex(pos, vel, 10, 0.5, {0, 0}, 0.5);
    expect_vec(pos, 10.0, 0.0);
    expect_vec(vel, 0.25, 0.0);
    Vec2 inside{0, 6};
    Vec2 still{0, 0};
    disc_vertex(inside, still, 10, 0.5, {0, 0}, 0.5);
    expect_vec(inside, 0.0, 10.0);
    Vec2 on_vertex{0, 0};
    disc_vertex(on_vertex, still, 10, 0.5, {0, 0}, 0.5);
    expect_vec(on_vertex, 0.0, 0.0);
}

}  // namespace
}  // namespace vexlo
