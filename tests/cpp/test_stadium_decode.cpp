// The stadium decoder: keys, absence and null, unknown keys, and every
// message form with the place it names.

#include <gtest/gtest.h>

#include <string>

#include "stadium/decode.hpp"
#include "stadium_test_helpers.hpp"

namespace vexlo::stadium_test {
namespace {

using stadium::decode;
using stadium::RawStadium;

RawStadium decoded(std::string_view text) {
    auto result = decode(text);
    if (auto* error = std::get_if<std::string>(&result)) {
        ADD_FAILURE() << "unexpected error: " << *error;
        return RawStadium{};
    }
    return std::get<RawStadium>(std::move(result));
}

TEST(StadiumDecode, EmptyObjectHasNothingAndNoDefaultsFilledIn) {
    const RawStadium st = decoded(" \t\r\n{}\n\t \r");
    EXPECT_FALSE(st.name.has_value());
    EXPECT_TRUE(st.traits.empty());
    EXPECT_TRUE(st.vertexes.empty() && st.segments.empty() && st.planes.empty());
    EXPECT_TRUE(st.discs.empty() && st.goals.empty());
    EXPECT_TRUE(st.red_spawn_points.empty() && st.blue_spawn_points.empty());
    EXPECT_FALSE(st.spawn_distance.has_value());
    EXPECT_FALSE(st.player_physics.radius.has_value());
    EXPECT_TRUE(std::holds_alternative<std::monostate>(st.ball_physics));
}

TEST(StadiumDecode, UnknownKeysAreSkippedWithTheirWholeValueAtEveryLevel) {
    const RawStadium st = decoded(
        R"({"width":[1,{"x":5}],"vertexes":[{"x":1,"y":2,"cMask":["ball"],"bCoef":9,"trait":"t"}],)"
        R"("segments":[{"v0":0,"v1":0,"curveF":{"a":[[]]},"vis":false,"V0":"x"}],)"
        R"("playerPhysics":{"cGroup":["red"],"radius":4},"Name":null,"bg":{"type":"grass"}})");
    ASSERT_EQ(st.vertexes.size(), 1u);
    EXPECT_EQ(st.vertexes[0].x, 1.0);
    EXPECT_EQ(st.vertexes[0].y, 2.0);
    ASSERT_EQ(st.segments.size(), 1u);
    EXPECT_FALSE(st.segments[0].props.curve.has_value());
    EXPECT_FALSE(st.segments[0].props.b_coef.has_value());
    EXPECT_EQ(st.player_physics.radius, 4.0);
    EXPECT_FALSE(st.name.has_value());
    // a skipped value must still be well-formed
    EXPECT_EQ(error_of(R"({"bg":{"a":[1,]}})"), bad_json("trailing comma", 1, 15));
    EXPECT_EQ(error_of(R"({"bg":[tru]})"),
              bad_json("syntax error while parsing value - invalid literal; last read: '\"bg\":[tru]'", 1, 11));
}

TEST(StadiumDecode, NumbersAndIndexes) {
    const RawStadium st = decoded(
        R"({"vertexes":[{"x":-0,"y":1e2},{"x":0.1,"y":-7}],"segments":[{"v0":2,"v1":18446744073709551615}],)"
        R"("spawnDistance":12345678901234567890})");
    EXPECT_TRUE(same_bits(st.vertexes[0].x, -0.0));
    EXPECT_EQ(st.vertexes[0].y, 100.0);
    EXPECT_EQ(st.vertexes[1].x, 0.1);
    EXPECT_EQ(st.vertexes[1].y, -7.0);
    EXPECT_EQ(st.segments[0].v0, 2u);
    EXPECT_EQ(st.segments[0].v1, 18446744073709551615u);
    EXPECT_EQ(st.spawn_distance, 12345678901234567890.0);

    EXPECT_EQ(error_of(R"({"segments":[{"v0":2.0,"v1":1}]})"),
              bad_json("invalid type: floating point `2.0`, expected u64", 1, 22));
    EXPECT_EQ(error_of(R"({"segments":[{"v0":2e0,"v1":1}]})"),
              bad_json("invalid type: floating point `2.0`, expected u64", 1, 22));
    EXPECT_EQ(error_of(R"({"segments":[{"v0":-1,"v1":1}]})"),
              bad_json("invalid value: integer `-1`, expected u64", 1, 21));
    EXPECT_EQ(error_of(R"({"segments":[{"v0":1,"v1":-0}]})"),
              bad_json("invalid type: floating point `-0.0`, expected u64", 1, 28));
    EXPECT_EQ(error_of(R"({"segments":[{"v0":"1","v1":1}]})"),
              bad_json("invalid type: string \"1\", expected u64", 1, 22));
    EXPECT_EQ(error_of(R"({"segments":[{"v0":null,"v1":1}]})"),
              bad_json("invalid type: null, expected u64", 1, 23));
    EXPECT_EQ(error_of(R"({"vertexes":[{"x":true,"y":1}]})"),
              bad_json("invalid type: boolean `true`, expected f64", 1, 22));
    // a number that ends the text is still placed at its last digit
    EXPECT_EQ(error_of(R"({"segments":[{"v0":-12)"),
              bad_json("invalid value: integer `-12`, expected u64", 1, 22));
    EXPECT_EQ(error_of(R"({"x":1e400})"), bad_json("number overflow parsing '1e400'", 1, 10));
}

TEST(StadiumDecode, FlagLists) {
    const RawStadium st = decoded(
        R"({"discs":[{"cMask":["ball","Ball"],"cGroup":[]},{"cGroup":["red","c0","all","kick"]},{"cMask":null}]})");
    ASSERT_EQ(st.discs.size(), 3u);
    EXPECT_EQ(st.discs[0].props.c_mask, 1);
    EXPECT_EQ(st.discs[0].props.c_group, 0);  // present and empty
    EXPECT_FALSE(st.discs[1].props.c_mask.has_value());
    EXPECT_EQ(st.discs[1].props.c_group, 127);
    EXPECT_FALSE(st.discs[2].props.c_mask.has_value());
    EXPECT_EQ(error_of(R"({"discs":[{"cMask":["ball",1]}]})"),
              bad_json("invalid type: integer `1`, expected a string", 1, 28));
    EXPECT_EQ(error_of(R"({"discs":[{"cMask":"ball"}]})"),
              bad_json("invalid type: string \"ball\", expected a sequence", 1, 25));
}

TEST(StadiumDecode, NullIsAbsentOnlyWhereAllowed) {
    const RawStadium st = decoded(
        R"({"name":null,"spawnDistance":null,"discs":[{"pos":null,"trait":null,"radius":null}],)"
        R"("playerPhysics":{"kickback":null},"traits":{"t":{"bias":null}}})");
    EXPECT_FALSE(st.name.has_value());
    EXPECT_FALSE(st.spawn_distance.has_value());
    EXPECT_FALSE(st.discs[0].pos.has_value() || st.discs[0].trait.has_value());
    EXPECT_FALSE(st.discs[0].props.radius.has_value());
    EXPECT_FALSE(st.player_physics.kickback.has_value());
    EXPECT_FALSE(st.traits.at("t").bias.has_value());

    EXPECT_EQ(error_of(R"({"segments":null})"), bad_json("invalid type: null, expected a sequence", 1, 16));
    EXPECT_EQ(error_of(R"({"traits":null})"), bad_json("invalid type: null, expected a map", 1, 14));
    EXPECT_EQ(error_of(R"({"playerPhysics":null})"),
              bad_json("invalid type: null, expected struct RawPlayerPhysics", 1, 21));
    EXPECT_EQ(error_of(R"({"traits":{"t":null}})"), bad_json("invalid type: null, expected struct Props", 1, 19));
    EXPECT_EQ(error_of(R"({"goals":[{"p0":[0,0],"p1":[0,0],"team":null}]})"),
              bad_json("invalid type: null, expected a string", 1, 44));
    EXPECT_EQ(error_of(R"({"planes":[{"normal":null,"dist":0}]})"),
              bad_json("invalid type: null, expected an array of length 2", 1, 25));
}

TEST(StadiumDecode, TypeErrorsOnContainersPointBeforeTheBracket) {
    EXPECT_EQ(error_of("[]"), bad_json("invalid type: sequence, expected struct RawStadium", 1, 0));
    EXPECT_EQ(error_of(" \"x\""), bad_json("invalid type: string \"x\", expected struct RawStadium", 1, 4));
    EXPECT_EQ(error_of("{\"vertexes\":\n[[1,2]]}"),
              bad_json("invalid type: sequence, expected struct RawVertex", 2, 1));
    EXPECT_EQ(error_of(R"({"traits":[]})"), bad_json("invalid type: sequence, expected a map", 1, 10));
    EXPECT_EQ(error_of(R"({"vertexes":{}})"), bad_json("invalid type: map, expected a sequence", 1, 12));
    EXPECT_EQ(error_of(R"({"spawnDistance":[1]})"), bad_json("invalid type: sequence, expected f64", 1, 17));
    EXPECT_EQ(error_of(R"({"discs":[{"pos":{"x":1}}]})"),
              bad_json("invalid type: map, expected an array of length 2", 1, 17));
}

TEST(StadiumDecode, StringsInMessagesAreQuotedAndEscaped) {
    EXPECT_EQ(error_of(R"({"spawnDistance":"a\"b\\c\n\u0001\u007f"})"),
              bad_json(R"(invalid type: string "a\"b\\c\n\u{1}\u{7f}", expected f64)", 1, 40));
}

TEST(StadiumDecode, Points) {
    const RawStadium st = decoded(R"({"redSpawnPoints":[[1,-2],[3.5,4]],"blueSpawnPoints":[],"discs":[{"pos":[5,6]}]})");
    ASSERT_EQ(st.red_spawn_points.size(), 2u);
    EXPECT_EQ(st.red_spawn_points[1].x, 3.5);
    EXPECT_EQ(st.red_spawn_points[0].y, -2.0);
    EXPECT_TRUE(st.blue_spawn_points.empty());
    EXPECT_EQ(st.discs[0].pos->y, 6.0);

    EXPECT_EQ(error_of(R"({"planes":[{"normal":[],"dist":0}]})"),
              bad_json("invalid length 0, expected an array of length 2", 1, 23));
    EXPECT_EQ(error_of(R"({"planes":[{"normal":[1 ],"dist":0}]})"),
              bad_json("invalid length 1, expected an array of length 2", 1, 25));
    // a third value is reported where it starts, whatever it is
    EXPECT_EQ(error_of(R"({"planes":[{"normal":[1,2,3],"dist":0}]})"), bad_json("trailing characters", 1, 27));
    EXPECT_EQ(error_of(R"({"redSpawnPoints":[[1,2 , "x"]]})"), bad_json("trailing characters", 1, 27));
    EXPECT_EQ(error_of(R"({"redSpawnPoints":[[1,2,[]]]})"), bad_json("trailing characters", 1, 25));
    EXPECT_EQ(error_of(R"({"redSpawnPoints":[[1,"2"]]})"),
              bad_json("invalid type: string \"2\", expected f64", 1, 25));
    EXPECT_EQ(error_of(R"({"redSpawnPoints":[{"x":1}]})"),
              bad_json("invalid type: map, expected an array of length 2", 1, 19));
}

TEST(StadiumDecode, MissingFieldsAreReportedAtTheClosingBrace) {
    // the segment object without "v0" ends at line 3, column 18
    EXPECT_EQ(error_of("{\"vertexes\":[],\n\"segments\":[\n {\"v1\":0,\"bias\":1}]}"),
              bad_json("missing field `v0`", 3, 18));
    EXPECT_EQ(error_of(R"({"segments":[{"v0":0}]})"), bad_json("missing field `v1`", 1, 21));
    EXPECT_EQ(error_of(R"({"segments":[{}]})"), bad_json("missing field `v0`", 1, 15));
    EXPECT_EQ(error_of(R"({"vertexes":[{"y":0}]})"), bad_json("missing field `x`", 1, 20));
    EXPECT_EQ(error_of(R"({"vertexes":[{"x":0}]})"), bad_json("missing field `y`", 1, 20));
    EXPECT_EQ(error_of(R"({"planes":[{"dist":0}]})"), bad_json("missing field `normal`", 1, 21));
    EXPECT_EQ(error_of(R"({"planes":[{"normal":[0,1]}]})"), bad_json("missing field `dist`", 1, 27));
    EXPECT_EQ(error_of(R"({"goals":[{"p1":[0,1],"team":"red"}]})"), bad_json("missing field `p0`", 1, 35));
    EXPECT_EQ(error_of(R"({"goals":[{"p0":[0,1],"team":"red"}]})"), bad_json("missing field `p1`", 1, 35));
    EXPECT_EQ(error_of(R"({"goals":[{"p0":[0,1],"p1":[0,1]}]})"), bad_json("missing field `team`", 1, 33));
}

TEST(StadiumDecode, DuplicateKnownKeysAreErrorsButDuplicateTraitsReplace) {
    EXPECT_EQ(error_of(R"({"segments":[{"v0":0,"v1":0,"bCoef":1,"bCoef":2}]})"),
              bad_json("duplicate field `bCoef`", 1, 45));
    EXPECT_EQ(error_of(R"({"name":null,"name":"x"})"), bad_json("duplicate field `name`", 1, 19));
    EXPECT_EQ(error_of(R"({"traits":{"t":{"curve":1,"curve":1}}})"), bad_json("duplicate field `curve`", 1, 33));
    EXPECT_EQ(error_of(R"({"playerPhysics":{"kickback":1,"kickback":1}})"),
              bad_json("duplicate field `kickback`", 1, 41));
    // unknown keys may repeat
    decoded(R"({"bg":1,"bg":2,"vertexes":[{"x":1,"y":2,"bCoef":1,"bCoef":2}]})");

    const RawStadium st = decoded(R"({"traits":{"t":{"radius":1,"bias":2},"u":{},"t":{"radius":3}}})");
    ASSERT_EQ(st.traits.size(), 2u);
    EXPECT_EQ(st.traits.at("t").radius, 3.0);
    EXPECT_FALSE(st.traits.at("t").bias.has_value());
}

TEST(StadiumDecode, BallPhysicsIsAStringOrAnObject) {
    const RawStadium ref = decoded(R"({"ballPhysics":"disc7"})");
    EXPECT_EQ(std::get<stadium::BallRef>(ref.ball_physics).ref, "disc7");
    const RawStadium props = decoded(R"({"ballPhysics":{"radius":4,"cMask":[],"color":"fff"}})");
    EXPECT_EQ(std::get<stadium::Props>(props.ball_physics).radius, 4.0);
    EXPECT_EQ(std::get<stadium::Props>(props.ball_physics).c_mask, 0);

    const std::string untagged = "data did not match any variant of untagged enum BallPhysics";
    // reported at the end of the value, or of the enclosing object when it
    // ends right there
    EXPECT_EQ(error_of(R"({"ballPhysics":5})"), bad_json(untagged, 1, 17));
    EXPECT_EQ(error_of(R"({"ballPhysics":true ,"x":1})"), bad_json(untagged, 1, 20));
    EXPECT_EQ(error_of(R"({"ballPhysics":null,"x":1})"), bad_json(untagged, 1, 19));
    EXPECT_EQ(error_of(R"({"ballPhysics":[1,2],"x":1})"), bad_json(untagged, 1, 20));
    // an object that is not a valid Props is refused as a whole
    EXPECT_EQ(error_of(R"({"ballPhysics":{"radius":"x","r":[1]},"x":[}})"), bad_json(untagged, 1, 37));
    EXPECT_EQ(error_of(R"({"ballPhysics":{"bias":1,"bias":2}})"), bad_json(untagged, 1, 35));
    // but syntax errors and the nesting limit inside it are not
    EXPECT_EQ(error_of(R"({"ballPhysics":{"radius":"x","r":[1,]}})"), bad_json("trailing comma", 1, 37));
}

TEST(StadiumDecode, SyntaxErrorsCarryTheParsersMessageAndOurPosition) {
    EXPECT_EQ(error_of(""),
              bad_json("attempting to parse an empty input; check that your input string or stream "
                       "contains the expected JSON",
                       1, 0));
    EXPECT_EQ(error_of("{\"a\":"),
              bad_json("syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal",
                       1, 5));
    EXPECT_EQ(error_of("{\n\"a\" 1}"),
              bad_json("syntax error while parsing object separator - unexpected number literal; expected ':'", 2,
                       5));
    const std::string e = error_of("{\"a\":\"\xff\"}");
    EXPECT_EQ(e, bad_json("syntax error while parsing value - invalid string: ill-formed UTF-8 byte; last read: "
                          "'\"<0xFF>'",
                          1, 7));
    EXPECT_EQ(error_of("\xEF\xBB\xBF{}"), bad_json("expected value", 1, 1));
    // the parser stops at a NUL byte as at the end; the decoder does not
    EXPECT_EQ(error_of(std::string("{\"a\":1} \0", 9)), bad_json("trailing characters", 1, 9));
    EXPECT_EQ(error_of(std::string("{\"a\":\0}", 7)).rfind("bad .vxs JSON: syntax error", 0), 0u);
}

TEST(StadiumDecode, TrailingCommasAndTrailingCharacters) {
    EXPECT_EQ(error_of(R"({"vertexes":[],})"), bad_json("trailing comma", 1, 16));
    EXPECT_EQ(error_of("{\"bg\":[1,\n ]}"), bad_json("trailing comma", 2, 2));
    EXPECT_EQ(error_of(R"({"discs":[{"radius":1, }]})"), bad_json("trailing comma", 1, 24));
    // a comma before the wrong kind of bracket is a plain syntax error
    EXPECT_NE(error_of(R"({"bg":[1,}})").find("syntax error"), std::string::npos);

    EXPECT_EQ(error_of("{} x"), bad_json("trailing characters", 1, 4));
    EXPECT_EQ(error_of("{}\n\n  {}"), bad_json("trailing characters", 3, 3));
    EXPECT_EQ(error_of("{}\"unterminated"), bad_json("trailing characters", 1, 3));
    decoded("{}\r\n\t ");
}

TEST(StadiumDecode, NestingIsLimitedTo127Levels) {
    const auto nested = [](int arrays) {
        return "{\"bg\":" + std::string(arrays, '[') + std::string(arrays, ']') + "}";
    };
    decoded(nested(126));  // 127 levels with the top-level object
    EXPECT_EQ(error_of(nested(127)), bad_json("recursion limit exceeded", 1, 6 + 127));
    // objects count as well, also inside known records
    std::string objects = "{\"traits\":{\"t\":{\"radius\":1}},\"bg\":";
    for (int i = 0; i < 127; ++i) objects += "{\"a\":";
    objects += "1" + std::string(127, '}') + "}";
    EXPECT_EQ(error_of(objects), bad_json("recursion limit exceeded", 1, 34 + 5 * 126 + 1));
    // far deeper input fails at the same place without using the machine stack
    EXPECT_EQ(error_of("{\"bg\":" + std::string(1'000'000, '[')), bad_json("recursion limit exceeded", 1, 133));
    EXPECT_EQ(error_of(R"({"ballPhysics":)" + std::string(200, '[')), bad_json("recursion limit exceeded", 1, 142));
}

}  // namespace
}  // namespace vexlo::stadium_test
