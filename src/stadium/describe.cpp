// The description of a stadium: its World's fixed parts, set beside what
// the text gives only for drawing (visibility, colours, the pitch, the
// declared size), so that no other layer has to read stadium texts itself.
#include <cmath>
#include <optional>

#include "vexlo/stadium.hpp"
#include "construct.hpp"
#include "decode.hpp"
#include "physics/geometry.hpp"

namespace vexlo {

using namespace stadium;

namespace {

// The index of the stadium disc that stands for the ball, if any. Only
// called on stadiums that built, where a reference is always valid.
std::optional<std::size_t> ball_disc(const RawStadium& st) {
    const auto* ref = std::get_if<BallRef>(&st.ball_physics);
    if (ref == nullptr) return std::nullopt;
    return static_cast<std::size_t>(*disc_ref_index(ref->ref));
}

std::optional<Pitch> pitch_of(const std::optional<RawBackground>& bg) {
    if (!bg || !bg->width || !bg->height) return std::nullopt;
    return Pitch{*bg->width, *bg->height, bg->kick_off_radius.value_or(0.0)};
}

}  // namespace

DescriptionOrError describe_stadium(std::string_view text) {
    DecodeResult decoded = decode(text);
    if (const auto* error = std::get_if<std::string>(&decoded)) return std::string(BAD_JSON_PREFIX) + *error;
    const RawStadium& st = std::get<RawStadium>(decoded);
    WorldOrError built = build_world(st, 0, 0);
    if (auto* error = std::get_if<std::string>(&built)) return std::move(*error);
    const World& w = std::get<World>(built);

    StadiumDescription d;
    d.walls.reserve(w.segments.size());
    for (std::size_t i = 0; i < w.segments.size(); ++i) {
        const Props props = Props::over(st.segments[i].props, find_trait(st, st.segments[i].trait));
        WallDescription wall{w.segments[i]};
        // The arc's turn is the angle make_segment built it from, made positive.
        if (wall.segment.curve_f != 0.0) wall.turn = std::abs(*props.curve * DEGREES_TO_ENGINE_ANGLE);
        wall.visible = props.visible.value_or(true);
        d.walls.push_back(wall);
    }
    d.planes = w.planes;
    d.goals = w.goals;

    // World discs 1 .. first_player are the stadium's, in order, without the ball's own.
    const std::optional<std::size_t> skip = ball_disc(st);
    std::size_t next = 1;
    for (std::size_t i = 0; i < st.discs.size(); ++i) {
        if (skip == i) continue;
        const auto& raw = st.discs[i];
        const Disc& disc = w.discs[next++];
        const Props props = Props::over(raw.props, find_trait(st, raw.trait));
        std::optional<std::string> color;
        if (props.color) color = *props.color;
        d.discs.push_back({disc, color, (disc.c_mask & OBSTACLE_MASK) != 0});
    }
    d.ball_walls = wall_segments(w);
    d.ball_radius = w.ball().radius;
    d.player_radius = player_disc(st.player_physics, flag::FLAG_RED).radius;
    d.spawn_distance = w.spawn_distance;
    d.kick_rate_min = w.kick_rate_min;
    d.kick_rate_cost = w.kick_rate_cost;
    d.kick_rate_cap = w.kick_rate_cap;
    d.width = st.width;
    d.height = st.height;
    d.pitch = pitch_of(st.background);
    return d;
}

}  // namespace vexlo
