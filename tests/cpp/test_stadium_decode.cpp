// The stadium decoder: keys, absence and null, unknown keys, and every
// message form with the place it names.

#include <gtest/gtest.h>

#include <string>

#include "stadium/decode.hpp"
#include "stadium/text.hpp"
#include "stadium_test_helpers.hpp"

namespace vexlo::stadium_test {
namespace {

using stadium::RawStadium;

RawStadium decoded(std::string_view text) {
    auto result = stadium::decode(text);
    if (auto* error = std::get_if<std::string>(&result)) {
        ADD_FAILURE() << "unexpected error: " << *error;
        return RawStadium{};
    }
    return std::get<RawStadium>(std::move(result));
}

TEST(StadiumDecode, AbsenceNullAndUnknownKeys) {
    const RawStadium empty = decoded(" \t\r\n{}\n\t \r");
    EXPECT_TRUE(empty.vertexes.empty() && empty.segments.empty() && empty.discs.empty() && empty.traits.empty());
    EXPECT_FALSE(empty.spawn_distance.has_value() || empty.player_physics.radius.has_value());
    EXPECT_TRUE(std::holds_alternative<std::monostate>(empty.ball_physics));

    const RawStadium st = decoded(
        R"({"width":[1,{"x":5}],"vertexes":[{"x":-0,"y":1e2,"cMask":["ball"],"bCoef":9,"bCoef":9,"trait":"t"}],)"
        R"("segments":[{"v0":18446744073709551615,"v1":0,"curveF":{"a":[[]]},"vis":false,"V0":"x"}],)"
        R"("name":null,"spawnDistance":null,"playerPhysics":{"cGroup":["red"],"radius":4,"kickback":null},)"
        R"("discs":[{"pos":null,"trait":null,"radius":null,"cMask":["ball","Ball"],"cGroup":[]},{"cMask":null}],)"
        R"("traits":{"t":{"radius":1,"bias":2},"u":{},"t":{"radius":3}},"redSpawnPoints":[[1,-2],[3.5,4]]})");
    ASSERT_EQ(st.vertexes.size(), 1u);
    EXPECT_TRUE(same_bits(st.vertexes[0].x, -0.0));
    EXPECT_EQ(st.vertexes[0].y, 100.0);
    EXPECT_EQ(st.segments[0].v0, 18446744073709551615u);
    EXPECT_FALSE(st.segments[0].props.curve.has_value());
    EXPECT_EQ(st.player_physics.radius, 4.0);
    EXPECT_FALSE(st.name || st.spawn_distance || st.player_physics.kickback);
    const auto& disc = st.discs[0];
    EXPECT_FALSE(disc.pos || disc.trait || disc.props.radius);
    EXPECT_EQ(disc.props.c_mask, 1);
    EXPECT_EQ(disc.props.c_group, 0);  // present and empty, unlike an absent list
    EXPECT_FALSE(st.discs[1].props.c_mask.has_value());
    // a trait given twice: the later one replaces the earlier one whole
    ASSERT_EQ(st.traits.size(), 2u);
    EXPECT_EQ(st.traits.at("t").radius, 3.0);
    EXPECT_FALSE(st.traits.at("t").bias.has_value());
    EXPECT_EQ(st.red_spawn_points[1].x, 3.5);
    EXPECT_EQ(st.red_spawn_points[0].y, -2.0);

    EXPECT_EQ(std::get<stadium::BallRef>(decoded(R"({"ballPhysics":"disc7"})").ball_physics).ref, "disc7");
    const RawStadium ball = decoded(R"({"ballPhysics":{"radius":4,"cMask":[],"color":"fff"}})");
    EXPECT_EQ(std::get<stadium::Props>(ball.ball_physics).radius, 4.0);
}

struct ErrorCase {
    const char* text;
    const char* message;
    int line;
    int column;
};

constexpr char UNTAGGED[] = "data did not match any variant of untagged enum BallPhysics";

// Scalars are placed at their last byte, containers of the wrong type just
// before their bracket, and record-level checks at the closing bracket.
const ErrorCase ERRORS[] = {
    {R"({"segments":[{"v0":2.0,"v1":1}]})", "invalid type: floating point `2.0`, expected u64", 1, 22},
    {R"({"segments":[{"v0":-1,"v1":1}]})", "invalid value: integer `-1`, expected u64", 1, 21},
    {R"({"segments":[{"v0":1,"v1":-0}]})", "invalid type: floating point `-0.0`, expected u64", 1, 28},
    {R"({"segments":[{"v0":null,"v1":1}]})", "invalid type: null, expected u64", 1, 23},
    {R"({"segments":[{"v0":-12)", "invalid value: integer `-12`, expected u64", 1, 22},
    {R"({"vertexes":[{"x":true,"y":1}]})", "invalid type: boolean `true`, expected f64", 1, 22},
    {R"({"spawnDistance":"a\"b\\c\n\u0001\u007f"})",
     R"(invalid type: string "a\"b\\c\n\u{1}\u{7f}", expected f64)", 1, 40},
    {R"({"discs":[{"cMask":["ball",1]}]})", "invalid type: integer `1`, expected a string", 1, 28},
    {R"({"discs":[{"cMask":"ball"}]})", "invalid type: string \"ball\", expected a sequence", 1, 25},
    {R"({"segments":null})", "invalid type: null, expected a sequence", 1, 16},
    {R"({"traits":null})", "invalid type: null, expected a map", 1, 14},
    {R"({"playerPhysics":null})", "invalid type: null, expected struct RawPlayerPhysics", 1, 21},
    {R"({"traits":{"t":null}})", "invalid type: null, expected struct Props", 1, 19},
    {R"({"goals":[{"p0":[0,0],"p1":[0,0],"team":null}]})", "invalid type: null, expected a string", 1, 44},
    {R"({"planes":[{"normal":null,"dist":0}]})", "invalid type: null, expected an array of length 2", 1, 25},
    {"[]", "invalid type: sequence, expected struct RawStadium", 1, 0},
    {" \"x\"", "invalid type: string \"x\", expected struct RawStadium", 1, 4},
    {"{\"vertexes\":\n[[1,2]]}", "invalid type: sequence, expected struct RawVertex", 2, 1},
    {R"({"vertexes":{}})", "invalid type: map, expected a sequence", 1, 12},
    {R"({"spawnDistance":[1]})", "invalid type: sequence, expected f64", 1, 17},
    {R"({"discs":[{"pos":{"x":1}}]})", "invalid type: map, expected an array of length 2", 1, 17},
    {R"({"x":1e400})", "number overflow parsing '1e400'", 1, 10},
    // points
    {R"({"planes":[{"normal":[],"dist":0}]})", "invalid length 0, expected an array of length 2", 1, 23},
    {R"({"planes":[{"normal":[1 ],"dist":0}]})", "invalid length 1, expected an array of length 2", 1, 25},
    {R"({"planes":[{"normal":[1,2,3],"dist":0}]})", "trailing characters", 1, 27},
    {R"({"redSpawnPoints":[[1,2 , "x"]]})", "trailing characters", 1, 27},
    {R"({"redSpawnPoints":[[1,2,[]]]})", "trailing characters", 1, 25},
    {R"({"redSpawnPoints":[[1,"2"]]})", "invalid type: string \"2\", expected f64", 1, 25},
    // missing fields, at the object's closing brace
    {"{\"vertexes\":[],\n\"segments\":[\n {\"v1\":0,\"bias\":1}]}", "missing field `v0`", 3, 18},
    {R"({"segments":[{"v0":0}]})", "missing field `v1`", 1, 21},
    {R"({"segments":[{}]})", "missing field `v0`", 1, 15},
    {R"({"vertexes":[{"y":0}]})", "missing field `x`", 1, 20},
    {R"({"vertexes":[{"x":0}]})", "missing field `y`", 1, 20},
    {R"({"planes":[{"dist":0}]})", "missing field `normal`", 1, 21},
    {R"({"planes":[{"normal":[0,1]}]})", "missing field `dist`", 1, 27},
    {R"({"goals":[{"p1":[0,1],"team":"red"}]})", "missing field `p0`", 1, 35},
    {R"({"goals":[{"p0":[0,1],"team":"red"}]})", "missing field `p1`", 1, 35},
    {R"({"goals":[{"p0":[0,1],"p1":[0,1]}]})", "missing field `team`", 1, 33},
    // duplicates, at the second key
    {R"({"segments":[{"v0":0,"v1":0,"bCoef":1,"bCoef":2}]})", "duplicate field `bCoef`", 1, 45},
    {R"({"name":null,"name":"x"})", "duplicate field `name`", 1, 19},
    {R"({"traits":{"t":{"curve":1,"curve":1}}})", "duplicate field `curve`", 1, 33},
    {R"({"playerPhysics":{"kickback":1,"kickback":1}})", "duplicate field `kickback`", 1, 41},
    // "ballPhysics": at the end of the value, or of the enclosing object
    // when it closes right there; any error inside the object form refuses
    // the whole value, syntax errors excepted
    {R"({"ballPhysics":5})", UNTAGGED, 1, 17},
    {R"({"ballPhysics":true ,"x":1})", UNTAGGED, 1, 20},
    {R"({"ballPhysics":null,"x":1})", UNTAGGED, 1, 19},
    {R"({"ballPhysics":[1,2],"x":1})", UNTAGGED, 1, 20},
    {R"({"ballPhysics":{"radius":"x","r":[1]},"x":[}})", UNTAGGED, 1, 37},
    {R"({"ballPhysics":{"bias":1,"bias":2}})", UNTAGGED, 1, 35},
    {R"({"ballPhysics":{"radius":"x","r":[1,]}})", "trailing comma", 1, 37},
    // syntax
    {R"({"bg":{"a":[1,]}})", "trailing comma", 1, 15},
    {R"({"vertexes":[],})", "trailing comma", 1, 16},
    {"{\"bg\":[1,\n ]}", "trailing comma", 2, 2},
    {R"({"discs":[{"radius":1, }]})", "trailing comma", 1, 24},
    {"{} x", "trailing characters", 1, 4},
    {"{}\n\n  {}", "trailing characters", 3, 3},
    {"{}\"unterminated", "trailing characters", 1, 3},
    {"", "attempting to parse an empty input; check that your input string or stream contains the expected JSON", 1,
     0},
    {"{\"a\":", "syntax error while parsing value - unexpected end of input; expected '[', '{', or a literal", 1, 5},
    {"{\n\"a\" 1}", "syntax error while parsing object separator - unexpected number literal; expected ':'", 2, 5},
    {R"({"bg":[tru]})", "syntax error while parsing value - invalid literal; last read: '\"bg\":[tru]'", 1, 11},
    {"{\"a\":\"\xff\"}",
     "syntax error while parsing value - invalid string: ill-formed UTF-8 byte; last read: '\"<0xFF>'", 1, 7},
    {"\xEF\xBB\xBF{}", "expected value", 1, 1},
};

TEST(StadiumDecode, ErrorMessagesAndPositions) {
    for (const auto& c : ERRORS) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(error_of(c.text), bad_json(c.message, c.line, c.column));
    }
    // a comma before the wrong kind of bracket is the parser's own error
    EXPECT_EQ(error_of(R"({"bg":[1,}})").rfind("bad .vxs JSON: syntax error", 0), 0u);
    // the parser takes a NUL byte for the end of the text; the decoder does not
    EXPECT_EQ(error_of(std::string("{\"a\":1} \0", 9)), bad_json("trailing characters", 1, 9));
    // an echoed token or value keeps its start and its end, cut between characters
    const std::string as(100, 'a');
    EXPECT_EQ(error_of("{\"name\":\"" + as + "\\x\"}"),
              bad_json("syntax error while parsing value - invalid string: forbidden character after "
                       "backslash; last read: '\"" + as.substr(0, 24) + "..." + as.substr(0, 50) + "\\x'",
                       1, 111));
    EXPECT_EQ(error_of("{\"vertexes\":\"" + as + "\"}"),
              bad_json("invalid type: string \"" + as.substr(0, 25) + "..." + as.substr(0, 52) +
                           "\", expected a sequence",
                       1, 114));
}

TEST(StadiumText, ShortenedKeepsWholeCharacters) {
    EXPECT_EQ(stadium::shortened(std::string(80, 'x')), std::string(80, 'x'));
    const auto e_acute = [](int n) {
        std::string s;
        for (int i = 0; i < n; ++i) s += "\u00e9";  // two bytes each
        return s;
    };
    std::string text = "xy";
    text += e_acute(61);
    text += "z";
    // 25 bytes from the start and 52 from the end would both split a character
    std::string expected = "xy";
    expected += e_acute(11);
    expected += "...";
    expected += e_acute(25);
    expected += "z";
    const std::string cut = stadium::shortened(text);
    EXPECT_EQ(cut, expected);
    EXPECT_EQ(stadium::valid_utf8(cut), cut);
}

TEST(StadiumDecode, NestingIsLimitedTo127Levels) {
    const auto nested = [](int n) { return "{\"bg\":" + std::string(n, '[') + std::string(n, ']') + "}"; };
    decoded(nested(126));  // 127 levels with the top-level object
    EXPECT_EQ(error_of(nested(127)), bad_json("recursion limit exceeded", 1, 6 + 127));
    std::string objects = "{\"traits\":{\"t\":{\"radius\":1}},\"bg\":";
    for (int i = 0; i < 127; ++i) objects += "{\"a\":";
    EXPECT_EQ(error_of(objects + "1" + std::string(128, '}')),
              bad_json("recursion limit exceeded", 1, 34 + 5 * 126 + 1));
    // far deeper input stops at the same place, without using the machine stack
    EXPECT_EQ(error_of("{\"bg\":" + std::string(1'000'000, '[')), bad_json("recursion limit exceeded", 1, 133));
    EXPECT_EQ(error_of(R"({"ballPhysics":)" + std::string(200, '[')), bad_json("recursion limit exceeded", 1, 142));
}

}  // namespace
}  // namespace vexlo::stadium_test
