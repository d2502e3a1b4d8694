#include "vexlo/flag.hpp"

namespace vexlo::flag {

std::int64_t bits_of(std::string_view name) {
    for (const auto& [known, bits] : FLAG_NAMES) {
        if (name == known) return bits;
    }
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
