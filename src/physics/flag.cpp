#include "vexlo/flag.hpp"

namespace vexlo::flag {

std::int64_t bits_of(std::string_view name) {
    if (name == "ball") return FLAG_BALL;
    if (name == "red") return FLAG_RED;
    if (name == "blue") return FLAG_BLUE;
    if (name == "redKO") return FLAG_RED_KO;
    if (name == "blueKO") return FLAG_BLUE_KO;
    if (name == "wall") return FLAG_WALL;
    if (name == "all") return FLAG_ALL;
    if (name == "kick") return FLAG_KICK;
    if (name == "score") return FLAG_SCORE;
    return 0;
}

std::int64_t parse(std::span<const std::string> names) {
    std::int64_t bits = 0;
    for (const auto& name : names) bits |= bits_of(name);
    return bits;
}

std::int64_t parse(std::span<const std::string_view> names) {
    std::int64_t bits = 0;
    for (auto name : names) bits |= bits_of(name);
    return bits;
}

}  // namespace vexlo::flag
