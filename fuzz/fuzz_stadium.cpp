// libFuzzer target: any byte string goes through the decoder and world
// construction. It must come back as a World that keeps the engine's
// invariants or as one of the error texts, never as a crash, a hang or
// undefined behaviour; and the decoder must never accept what the JSON
// parser itself refuses. The stadium description of the same text must fail
// with the same text, or describe that World.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include <nlohmann/json.hpp>

#include "vexlo/stadium.hpp"
#include "stadium/text.hpp"

namespace {

void require(bool ok) {
    if (!ok) std::abort();
}

bool ends_with_position(const std::string& error) {
    const auto at = error.rfind(" at line ");
    return at != std::string::npos && error.find(" column ", at) != std::string::npos && !error.empty() &&
           error.back() >= '0' && error.back() <= '9';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto result = vexlo::world_from_vxs(text, 2, 1);
    const auto described = vexlo::describe_stadium(text);

    if (auto* error = std::get_if<std::string>(&result)) {
        require(!error->empty());
        require(vexlo::stadium::valid_utf8(*error) == *error);
        if (error->starts_with("bad .vxs JSON: ")) {
            require(ends_with_position(*error));
        } else {
            require(error->starts_with("ballPhysics ") || error->starts_with("segment references missing vertex "));
            require(nlohmann::json::accept(text));
        }
        require(std::get_if<std::string>(&described) != nullptr && std::get<std::string>(described) == *error);
        return 0;
    }

    // Accepted: the text is one JSON object, and the World is well formed.
    require(nlohmann::json::accept(text));
    const auto& w = std::get<vexlo::World>(result);
    require(!w.discs.empty());
    require(w.n_players == 3 && w.first_player + w.n_players == w.discs.size());
    require(w.kicking.size() == 3 && w.kick_held.size() == 3 && w.kick_cooldown.size() == 3 &&
            w.kick_credit.size() == 3);
    require(w.discs[0].c_group == 193 && w.discs[0].c_mask == 63);
    for (std::size_t p = 0; p < 3; ++p) require(w.discs[w.first_player + p].team == (p < 2 ? 2 : 4));
    for (const auto& s : w.segments) {
        // a straight segment carries no arc; an arc's cotangent is finite
        if (s.curve_f == 0.0) {
            require(s.arc_radius == 0.0 && s.center.x == 0.0 && s.center.y == 0.0 && s.t0.x == 0.0 &&
                    s.t0.y == 0.0 && s.t1.x == 0.0 && s.t1.y == 0.0);
        } else {
            require(s.curve_f - s.curve_f == 0.0);
        }
    }
    const auto* d = std::get_if<vexlo::StadiumDescription>(&described);
    require(d != nullptr && d->walls.size() == w.segments.size() && d->discs.size() + 1 == w.first_player);
    for (const auto& wall : d->walls) {
        require((wall.turn > 0.0) == (wall.segment.curve_f != 0.0) && wall.turn < 6.3);
    }
    return 0;
}
