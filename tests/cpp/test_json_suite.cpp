// Every file of the JSON parsing test suite either builds a World or fails
// with a "bad .vxs JSON: " message: never a crash, a hang or another error.
// Files named y_* are valid JSON, n_* invalid, i_* up to the parser.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <variant>

#include "vexlo/stadium.hpp"
#include "stadium/text.hpp"

namespace vexlo::stadium_test {
namespace {

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Whether `error` ends with " at line L column C", L from 1 and C from 0.
bool has_position_suffix(const std::string& error) {
    const auto at = error.rfind(" at line ");
    if (at == std::string::npos) return false;
    unsigned long line = 0;
    unsigned long column = 0;
    char rest = 0;
    const int n = std::sscanf(error.c_str() + at, " at line %lu column %lu%c", &line, &column, &rest);
    return n == 2 && line >= 1 && error.back() >= '0' && error.back() <= '9';
}

bool starts_with_object(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    return first != std::string::npos && text[first] == '{';
}

TEST(StadiumJsonSuite, EveryFileBuildsOrGivesADecodeError) {
    const std::filesystem::path dir = VEXLO_JSON_SUITE_DIR;
    ASSERT_TRUE(std::filesystem::is_directory(dir)) << "no JSON test suite at " << dir;
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    ASSERT_GT(files.size(), 300u);

    const auto check_error = [&](const std::string& error) {
        EXPECT_EQ(error.rfind("bad .vxs JSON: ", 0), 0u) << error;
        EXPECT_TRUE(has_position_suffix(error)) << error;
        EXPECT_EQ(stadium::valid_utf8(error), error) << "message is not valid UTF-8";
        EXPECT_EQ(error.find("[json.exception"), std::string::npos) << error;
    };
    int built = 0;
    int built_skipped = 0;
    for (const auto& path : files) {
        const std::string name = path.filename().string();
        SCOPED_TRACE(name);
        const std::string text = read_file(path);
        // As it is: most files are not objects and stop at the first value.
        auto result = world_from_vxs(text, 1, 1);
        if (std::holds_alternative<World>(result)) {
            ++built;
            EXPECT_NE(name[0], 'n') << "invalid JSON was accepted";
            EXPECT_TRUE(starts_with_object(text));
        } else {
            check_error(std::get<std::string>(result));
            // valid JSON objects hold no stadium keys here, so they must build
            if (name[0] == 'y') {
                EXPECT_FALSE(starts_with_object(text)) << std::get<std::string>(result);
            }
        }
        // As the value of a key the stadium does not know: parsed to the end.
        auto skipped = world_from_vxs("{\"bg\":" + text + "\n}", 1, 1);
        if (std::holds_alternative<World>(skipped)) {
            ++built_skipped;
            EXPECT_NE(name[0], 'n') << "invalid JSON was accepted";
        } else {
            check_error(std::get<std::string>(skipped));
            EXPECT_NE(name[0], 'y') << std::get<std::string>(skipped);
        }
    }
    EXPECT_GE(built, 12);
    EXPECT_GE(built_skipped, 95);  // every y_ file at least
}

}  // namespace
}  // namespace vexlo::stadium_test
