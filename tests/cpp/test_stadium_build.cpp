// World construction: the built-in stadium's values, arcs and their bounds,
// orientation and bias, traits over defaults, ball references and the
// construction errors in their order; the stadium description built beside it.

#include <gtest/gtest.h>

#include <numbers>
#include <string>

#include "physics/geometry.hpp"
#include "vexlo/classic.hpp"
#include "stadium_test_helpers.hpp"

namespace vexlo::stadium_test {
namespace {

void expect_physics(const Disc& d, double radius, double inv_mass, double damping, double b_coef,
                    std::int64_t c_group, std::int64_t c_mask) {
    EXPECT_EQ(d.radius, radius);
    EXPECT_EQ(d.inv_mass, inv_mass);
    EXPECT_EQ(d.damping, damping);
    EXPECT_EQ(d.b_coef, b_coef);
    EXPECT_EQ(d.c_group, c_group);
    EXPECT_EQ(d.c_mask, c_mask);
}

void expect_straight(const Segment& s) {
    EXPECT_VEC_BITS(s.center, 0.0, 0.0);
    EXPECT_VEC_BITS(s.t0, 0.0, 0.0);
    EXPECT_VEC_BITS(s.t1, 0.0, 0.0);
    EXPECT_TRUE(same_bits(s.curve_f, 0.0) && same_bits(s.arc_radius, 0.0));
}

TEST(StadiumClassic, TextAndDiscs) {
    EXPECT_EQ(CLASSIC_STADIUM.size(), 2817u);
    EXPECT_EQ(CLASSIC_STADIUM.find_first_of(" \n\t\r"), std::string_view::npos);
    EXPECT_TRUE(
        CLASSIC_STADIUM.ends_with(R"(277.5,"bg":{"type":"grass","width":370,"height":170,"kickOffRadius":75}})"));

    const World w = build(CLASSIC_STADIUM, 1, 1);
    ASSERT_EQ(w.discs.size(), 7u);
    EXPECT_EQ(w.first_player, 5u);
    expect_physics(w.discs[0], 10, 1, 0.99, 0.5, 193, 63);
    const Vec2 posts[] = {{370, 64}, {370, -64}, {-370, 64}, {-370, -64}};
    for (int i = 0; i < 4; ++i) {
        expect_physics(w.discs[1 + i], 8, 0, 0.99, 0.5, 63, 63);
        EXPECT_VEC_BITS(w.discs[1 + i].pos, posts[i].x, posts[i].y);
    }
    for (int p = 0; p < 2; ++p) {
        const Disc& d = w.discs[5 + p];
        expect_physics(d, 15, 0.5, 0.96, 0.5, p == 0 ? 2 : 4, 39);
        EXPECT_EQ(d.team, p == 0 ? 2 : 4);
        EXPECT_TRUE(d.acceleration == 0.1 && d.kicking_acceleration == 0.07 && d.kicking_damping == 0.96);
        EXPECT_TRUE(d.kick_strength == 5.0 && d.kickback == 0.0);
        EXPECT_VEC_BITS(d.pos, p == 0 ? -277.5 : 277.5, 0.0);
    }
    EXPECT_EQ(w.spawn_distance, 277.5);
    EXPECT_TRUE(w.red_spawn_points.empty() && w.blue_spawn_points.empty());
    EXPECT_TRUE(w.steps == 0 && w.kick_rate_min == 2 && w.kick_rate_cost == 0 && w.kick_rate_cap == 1);
    EXPECT_TRUE(w.kickoff_team == 2 && w.goal_timer == 0 && w.red_score == 0 && w.blue_score == 0);
    EXPECT_EQ(w.phase, Phase::Kickoff);
    EXPECT_EQ(w.kick_held, std::vector<bool>(2, false));
    EXPECT_EQ(w.kick_credit, std::vector<std::int64_t>(2, 0));
    EXPECT_EQ(build(CLASSIC_STADIUM).discs.size(), 5u);  // no players
}

TEST(StadiumClassic, SegmentsPlanesGoals) {
    const World w = build(CLASSIC_STADIUM, 1, 1);
    ASSERT_EQ(w.segments.size(), 14u);
    const Segment& s0 = w.segments[0];  // vertexes 0 and 2, curve 90
    EXPECT_VEC_BITS(s0.v0, 400.0, 42.0);
    EXPECT_VEC_BITS(s0.v1, 378.0, 64.0);
    EXPECT_VEC_BITS(s0.center, 378.0, 42.0);
    EXPECT_VEC_BITS(s0.t0, 0.0, 22.0);
    EXPECT_VEC_BITS(s0.t1, 22.0, 0.0);
    EXPECT_TRUE(same_bits(s0.curve_f, 1.0000000000000002));
    EXPECT_EQ(s0.arc_radius, 22.0);
    EXPECT_EQ(s0.b_coef, 0.1);
    EXPECT_TRUE(same_bits(s0.bias, 0.0));
    EXPECT_TRUE(s0.c_group == 32 && s0.c_mask == 1);

    const Segment& s1 = w.segments[1];  // vertexes 3 and 2, straight
    EXPECT_VEC_BITS(s1.v0, 400.0, -42.0);
    EXPECT_VEC_BITS(s1.v1, 400.0, 42.0);
    expect_straight(s1);
    EXPECT_TRUE(same_bits(s1.bias, -0.0));

    const Segment& s8 = w.segments[8];  // vertexes 9 and 10, curve 180
    EXPECT_VEC_BITS(s8.v0, 0.0, -75.0);
    EXPECT_VEC_BITS(s8.v1, 0.0, 75.0);
    EXPECT_VEC_BITS(s8.center, -4.592425496802574e-15, 0.0);
    EXPECT_EQ(s8.arc_radius, 75.0);
    EXPECT_VEC_BITS(s8.t0, 75.0, 4.592425496802574e-15);
    EXPECT_VEC_BITS(s8.t1, 75.0, -4.592425496802574e-15);
    EXPECT_TRUE(same_bits(s8.curve_f, 6.123233995736766e-17));
    EXPECT_TRUE(s8.c_group == 8 && s8.c_mask == 6);
    EXPECT_EQ(w.segments[10].b_coef, 1.0);

    ASSERT_EQ(w.planes.size(), 6u);
    EXPECT_VEC_BITS(w.planes[0].normal, 0.0, -1.0);
    EXPECT_TRUE(w.planes[0].dist == -200 && w.planes[0].b_coef == 0 && w.planes[0].c_group == 32 &&
                w.planes[0].c_mask == 63);
    EXPECT_VEC_BITS(w.planes[4].normal, 0.0, -1.0);
    EXPECT_TRUE(w.planes[4].dist == -170 && w.planes[4].b_coef == 1 && w.planes[4].c_group == 32 &&
                w.planes[4].c_mask == 1);

    ASSERT_EQ(w.goals.size(), 2u);
    EXPECT_VEC_BITS(w.goals[0].p0, 370.0, 64.0);
    EXPECT_VEC_BITS(w.goals[0].p1, 370.0, -64.0);
    EXPECT_EQ(w.goals[0].team, 4);
    EXPECT_VEC_BITS(w.goals[1].p0, -370.0, 64.0);
    EXPECT_VEC_BITS(w.goals[1].p1, -370.0, -64.0);
    EXPECT_EQ(w.goals[1].team, 2);
}

// One segment from (0, 0) to (100, 0) in the file, with extra keys.
Segment one_segment(const std::string& extra) {
    const World w = build(R"({"vertexes":[{"x":0,"y":0},{"x":100,"y":0}],"segments":[{"v0":0,"v1":1)" + extra + "}]}");
    return w.segments.empty() ? Segment{} : w.segments[0];
}

TEST(StadiumBuild, ArcsOnlyStrictlyBetween999And340Degrees) {
    for (const char* straight : {"", R"(,"curve":0)", R"(,"curve":9.99)", R"(,"curve":-9.99)", R"(,"curve":340)",
                                 R"(,"curve":-340)", R"(,"curve":null)"}) {
        SCOPED_TRACE(straight);
        expect_straight(one_segment(straight));
    }
    const Segment plus = one_segment(R"(,"curve":10)");
    const Segment minus = one_segment(R"(,"curve":-10)");
    EXPECT_TRUE(plus.curve_f > 11.0 && plus.curve_f < 11.5);
    EXPECT_TRUE(same_bits(plus.curve_f, minus.curve_f));
    // the same arc bulging to the other side of the chord
    EXPECT_TRUE(plus.center.x == 50.0 && minus.center.x == 50.0 && plus.center.y < -500.0);
    EXPECT_EQ(minus.center.y, -plus.center.y);
    EXPECT_EQ(plus.arc_radius, minus.arc_radius);

    const Segment wide = one_segment(R"(,"curve":339.99)");  // beyond half a turn
    EXPECT_LT(wide.curve_f, 0.0);
    EXPECT_TRUE(wide.center.y > 0.0 && wide.arc_radius > 50.0);
    EXPECT_VEC_BITS(wide.t0, -(wide.center.y - -0.0), -(100.0 - wide.center.x));  // negated limits
}

TEST(StadiumBuild, OrientationAndBias) {
    const Segment straight = one_segment(R"(,"bias":5)");
    EXPECT_EQ(straight.bias, -5.0);
    EXPECT_VEC_BITS(straight.v0, 0.0, -0.0);
    const Segment positive = one_segment(R"(,"curve":90,"bias":5)");
    EXPECT_EQ(positive.bias, 5.0);
    EXPECT_VEC_BITS(positive.v0, 100.0, -0.0);
    EXPECT_VEC_BITS(positive.v1, 0.0, -0.0);
    const Segment negative = one_segment(R"(,"curve":-90,"bias":5)");
    EXPECT_EQ(negative.bias, -5.0);
    EXPECT_VEC_BITS(negative.v0, 0.0, -0.0);
    // a positive curve too small for an arc still swaps the ends
    const Segment small = one_segment(R"(,"curve":5,"bias":-2)");
    expect_straight(small);
    EXPECT_EQ(small.bias, -2.0);
    EXPECT_VEC_BITS(small.v0, 100.0, -0.0);
}

TEST(StadiumBuild, TraitsOverKindDefaults) {
    const World w = build(
        R"({"traits":{"big":{"radius":20,"cMask":["ball"],"bCoef":0.25,"curve":90},"gone":{"radius":1}},)"
        R"("discs":[{"trait":"big","radius":5},{"trait":"big"},{"trait":"big","cMask":[]},)"
        R"({"trait":"missing","damping":0.5},{"pos":[1,2],"invMass":2,"cGroup":["kick"]}],)"
        R"("vertexes":[{"x":0,"y":0},{"x":1,"y":0}],)"
        R"("segments":[{"v0":0,"v1":1,"trait":"big"},{"v0":0,"v1":1,"trait":"big","curve":0,"cMask":null}],)"
        R"("planes":[{"normal":[3,4],"dist":2,"trait":"big"},{"normal":[0,1],"dist":0,"trait":"gone"}]})");
    ASSERT_EQ(w.discs.size(), 6u);
    expect_physics(w.discs[1], 5, 1, 0.99, 0.25, 63, 1);
    EXPECT_EQ(w.discs[2].radius, 20.0);
    EXPECT_EQ(w.discs[3].c_mask, 0);  // an own empty list wins whole
    expect_physics(w.discs[4], 10, 1, 0.5, 0.5, 63, 63);
    expect_physics(w.discs[5], 10, 2, 0.99, 0.5, 64, 63);
    EXPECT_VEC_BITS(w.discs[5].pos, 1.0, -2.0);
    EXPECT_VEC_BITS(w.discs[4].pos, 0.0, 0.0);

    EXPECT_TRUE(same_bits(w.segments[0].curve_f, 1.0000000000000002));  // the trait's curve
    EXPECT_TRUE(w.segments[0].c_mask == 1 && w.segments[0].c_group == 32);
    expect_straight(w.segments[1]);                                   // its own curve
    EXPECT_TRUE(w.segments[1].c_mask == 1 && w.segments[1].b_coef == 0.25);  // null: the trait's

    EXPECT_VEC_BITS(w.planes[0].normal, 3.0, -4.0);  // not normalised
    EXPECT_TRUE(w.planes[0].dist == 2 && w.planes[0].b_coef == 0.25 && w.planes[0].c_mask == 1);
    EXPECT_TRUE(w.planes[1].b_coef == 1 && w.planes[1].c_group == 32 && w.planes[1].c_mask == 63);
}

TEST(StadiumBuild, BallReferences) {
    const World w = build(
        R"({"traits":{"t":{"damping":0.5,"cGroup":["red"]}},"ballPhysics":"disc1",)"
        R"("discs":[{"radius":1},{"radius":2,"trait":"t","pos":[9,9],"cMask":[]},{"radius":3}]})",
        1, 0);
    ASSERT_EQ(w.discs.size(), 4u);
    expect_physics(w.discs[0], 2, 1, 0.5, 0.5, 193, 63);
    EXPECT_VEC_BITS(w.discs[0].pos, 0.0, 0.0);
    EXPECT_TRUE(w.discs[1].radius == 1 && w.discs[2].radius == 3 && w.first_player == 3);
    const World props = build(R"({"ballPhysics":{"radius":3,"cGroup":["red"],"bCoef":0},"discs":[{}]})");
    ASSERT_EQ(props.discs.size(), 2u);
    expect_physics(props.discs[0], 3, 1, 0.99, 0.0, 193, 63);

    const std::string four = R"(,"discs":[{},{},{},{"radius":7}]})";
    EXPECT_EQ(build(R"({"ballPhysics":"disc+3")" + four).discs[0].radius, 7.0);
    EXPECT_EQ(build(R"({"ballPhysics":"disc003")" + four).discs[0].radius, 7.0);
    EXPECT_EQ(error_of(R"({"ballPhysics":"disc4")" + four), "ballPhysics disc4 references a missing disc");
    EXPECT_EQ(error_of(R"({"ballPhysics":"disc+03"})"), "ballPhysics disc+03 references a missing disc");
    EXPECT_EQ(error_of(R"({"ballPhysics":"disc18446744073709551615"})"),
              "ballPhysics disc18446744073709551615 references a missing disc");
    for (const char* bad : {"disc", "disc+", "disc-1", "disc 1", "disc1a", "Disc0", " disc0", "disc++1",
                            "disc18446744073709551616", "ball", ""}) {
        EXPECT_EQ(error_of(R"({"discs":[{}],"ballPhysics":")" + std::string(bad) + "\"}"),
                  "ballPhysics ref \"" + std::string(bad) + "\" is not 'discN'");
    }
    EXPECT_EQ(error_of(R"({"ballPhysics":"q\"\\\n\t\u0000\u001b\u0080\u00e9"})"),
              R"(ballPhysics ref "q\"\\\n\t\0\u{1b}\u{80})" "\xC3\xA9" R"(" is not 'discN')");
}

TEST(StadiumBuild, ErrorsComeInTheirOrder) {
    const std::string segments = R"("vertexes":[{"x":0,"y":0},{"x":1,"y":1}],)"
                                 R"("segments":[{"v0":0,"v1":1},{"v0":0,"v1":2},{"v0":7,"v1":0}])";
    EXPECT_EQ(error_of("{" + segments + "}"), "segment references missing vertex 0 / 2");
    EXPECT_EQ(error_of(R"({"segments":[{"v0":7,"v1":0}]})"), "segment references missing vertex 7 / 0");
    EXPECT_EQ(error_of("{" + segments + R"(,"ballPhysics":"disc0"})"), "ballPhysics disc0 references a missing disc");
    EXPECT_EQ(error_of("{" + segments + R"(,"ballPhysics":"disc"})"), "ballPhysics ref \"disc\" is not 'discN'");
    EXPECT_EQ(error_of("{" + segments + R"(,"ballPhysics":"disc","x":})").rfind("bad .vxs JSON: ", 0), 0u);
}

TEST(StadiumBuild, GoalsSpawnPointsAndPlayers) {
    const World w = build(
        R"({"goals":[{"p0":[1,2],"p1":[3,4],"team":"red"},{"p0":[0,0],"p1":[0,0],"team":"blue"},)"
        R"({"p0":[0,0],"p1":[0,0],"team":"Red"}],"spawnDistance":100,"redSpawnPoints":[[100,20]],)"
        R"("blueSpawnPoints":[[5,6],[7,8]],"playerPhysics":{"radius":1,"invMass":2,"damping":3,"bCoef":4,)"
        R"("acceleration":5,"kickingAcceleration":6,"kickingDamping":7,"kickStrength":8,"kickback":9}})",
        3, 1);
    ASSERT_EQ(w.goals.size(), 3u);
    EXPECT_VEC_BITS(w.goals[0].p0, 1.0, -2.0);
    EXPECT_VEC_BITS(w.goals[0].p1, 3.0, -4.0);
    EXPECT_TRUE(w.goals[0].team == 2 && w.goals[1].team == 4 && w.goals[2].team == 0);
    EXPECT_EQ(w.spawn_distance, 100.0);
    ASSERT_EQ(w.blue_spawn_points.size(), 2u);
    EXPECT_VEC_BITS(w.blue_spawn_points[1], 7.0, -8.0);
    ASSERT_EQ(w.discs.size(), 5u);
    EXPECT_VEC_BITS(w.discs[1].pos, 100.0, -20.0);
    EXPECT_VEC_BITS(w.discs[2].pos, -100.0, -55.0);
    EXPECT_VEC_BITS(w.discs[3].pos, -100.0, 55.0);
    EXPECT_VEC_BITS(w.discs[4].pos, 5.0, -6.0);
    for (std::size_t i = 1; i < 5; ++i) {
        const Disc& d = w.discs[i];
        expect_physics(d, 1, 2, 3, 4, i < 4 ? 2 : 4, 39);
        EXPECT_TRUE(d.acceleration == 5 && d.kicking_acceleration == 6 && d.kicking_damping == 7 &&
                    d.kick_strength == 8 && d.kickback == 9);
    }
    EXPECT_EQ(w.kick_cooldown.size(), 4u);
}

StadiumDescription describe(std::string_view text) {
    auto result = describe_stadium(text);
    if (auto* error = std::get_if<std::string>(&result)) {
        ADD_FAILURE() << "unexpected error: " << *error << "\nfor: " << text;
        return StadiumDescription{};
    }
    return std::get<StadiumDescription>(std::move(result));
}

TEST(StadiumDescription, ClassicAsTheEngineBuildsIt) {
    const StadiumDescription d = describe(CLASSIC_STADIUM);
    const World w = build(CLASSIC_STADIUM);
    ASSERT_EQ(d.walls.size(), w.segments.size());
    for (std::size_t i = 0; i < d.walls.size(); ++i) {
        EXPECT_EQ(std::memcmp(&d.walls[i].segment, &w.segments[i], sizeof(Segment)), 0) << i;
        EXPECT_EQ(d.walls[i].visible, i < 6) << i;  // the net pieces; barrier and boundary hidden
    }
    EXPECT_EQ(d.walls[0].turn, std::numbers::pi / 2);
    EXPECT_EQ(d.walls[8].turn, std::numbers::pi);
    EXPECT_EQ(d.walls[1].turn, 0.0);
    EXPECT_EQ(d.ball_walls, wall_segments(w));
    EXPECT_EQ(d.planes.size(), 6u);
    EXPECT_EQ(d.goals.size(), 2u);
    ASSERT_EQ(d.discs.size(), 4u);
    const std::vector<std::array<double, 3>> posts = obstacle_discs(w);
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_TRUE(d.discs[i].obstacle);
        EXPECT_EQ(d.discs[i].color, i < 2 ? "CCCCFF" : "FFCCCC");
        EXPECT_EQ((std::array<double, 3>{d.discs[i].disc.pos.x, d.discs[i].disc.pos.y, d.discs[i].disc.radius}),
                  posts[i]);
    }
    EXPECT_TRUE(d.ball_radius == 10 && d.player_radius == 15 && d.spawn_distance == 277.5);
    EXPECT_TRUE(d.kick_rate_min == w.kick_rate_min && d.kick_rate_cost == w.kick_rate_cost &&
                d.kick_rate_cap == w.kick_rate_cap);
    EXPECT_TRUE(d.width == 420.0 && d.height == 200.0);
    ASSERT_TRUE(d.pitch.has_value());
    EXPECT_TRUE(d.pitch->half_width == 370 && d.pitch->half_height == 170 && d.pitch->kick_off_radius == 75);
}

TEST(StadiumDescription, DrawingPropertiesFollowTraitsAndTheBall) {
    const StadiumDescription d = describe(
        R"({"traits":{"h":{"vis":false,"color":"ABCDEF"}},"ballPhysics":"disc1",)"
        R"("vertexes":[{"x":0,"y":0},{"x":1,"y":0}],"segments":[{"v0":0,"v1":1,"trait":"h"},)"
        R"({"v0":0,"v1":1,"trait":"h","vis":0},{"v0":0,"v1":1,"trait":"h","vis":null},{"v0":0,"v1":1,"vis":[]},)"
        R"({"v0":0,"v1":1,"curve":-90}],)"
        R"("discs":[{"trait":"h","color":null},{"color":"BA11"},{"color":7},{"trait":"h","color":[1,2,3]},)"
        R"({"cMask":["wall"],"color":"C"}],"playerPhysics":{"radius":21},"bg":{"width":5,"height":6}})");
    ASSERT_EQ(d.walls.size(), 5u);
    EXPECT_TRUE(!d.walls[0].visible && d.walls[1].visible && !d.walls[2].visible && d.walls[3].visible);
    EXPECT_EQ(d.walls[4].turn, std::numbers::pi / 2);  // a negative curve keeps its ends and turns as much
    EXPECT_VEC_BITS(d.walls[4].segment.v0, 0.0, -0.0);
    ASSERT_EQ(d.discs.size(), 4u);  // disc 1 is the ball's
    EXPECT_EQ(d.discs[0].color, "ABCDEF");
    EXPECT_EQ(d.discs[1].color, std::nullopt);
    EXPECT_EQ(d.discs[2].color, std::nullopt);  // an own value of another type hides the trait's
    EXPECT_TRUE(d.discs[3].color == "C" && !d.discs[3].obstacle && d.discs[0].obstacle);
    EXPECT_TRUE(d.ball_radius == 10 && d.player_radius == 21);
    EXPECT_TRUE(d.pitch.has_value() && d.pitch->kick_off_radius == 0.0 && !d.width && !d.height);
}

TEST(StadiumDescription, DrawingDataNeverRefusesAText) {
    // Any value, any number of times: the later one counts, null or another type is absent.
    const std::pair<std::string, bool> cases[] = {
        {R"("width":"w","height":[1,{"x":[]}],"bg":7)", false},
        {R"("width":true,"bg":[{"width":1}])", false},
        {R"("bg":{"width":{"a":1},"height":2,"kickOffRadius":"r","width":null},"bg":null)", false},
        {R"("width":1,"width":null,"height":2,"bg":{"width":3,"height":4},"bg":"x")", true}};
    for (const auto& [drawing, has_height] : cases) {
        SCOPED_TRACE(drawing);
        const std::string text = R"({"vertexes":[{"x":0,"y":0},{"x":1,"y":0}],)"
                                 R"("segments":[{"v0":0,"v1":1,"vis":"no","vis":{},"color":[]}],)"
                                 R"("discs":[{"color":{},"color":"A","vis":1}],)" + drawing + "}";
        const StadiumDescription d = describe(text);
        EXPECT_TRUE(!d.width && !d.pitch && d.walls.size() == 1 && d.walls[0].visible);
        EXPECT_EQ(d.discs.size(), 1u);
        EXPECT_EQ(d.discs.empty() ? std::nullopt : d.discs[0].color, "A");
        EXPECT_EQ(d.height.has_value(), has_height);
    }
    const StadiumDescription twice = describe(R"({"width":1,"width":8,"height":2,"bg":{"width":3,"height":4}})");
    EXPECT_TRUE(twice.width == 8.0 && twice.height == 2.0 && twice.pitch && twice.pitch->half_height == 4.0);
}

TEST(StadiumDescription, RefusesWhatTheWorldRefuses) {
    for (const char* bad : {"{", R"({"ballPhysics":"disc0"})", R"({"segments":[{"v0":0,"v1":1}]})",
                            R"({"discs":[{"radius":"1","color":"A"}]})"}) {
        SCOPED_TRACE(bad);
        const auto result = describe_stadium(bad);
        ASSERT_TRUE(std::holds_alternative<std::string>(result));
        EXPECT_EQ(std::get<std::string>(result), error_of(bad));
    }
}

}  // namespace
}  // namespace vexlo::stadium_test
