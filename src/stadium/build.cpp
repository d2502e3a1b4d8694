#include "vexlo/stadium.hpp"

#include <cmath>
#include <limits>
#include <optional>

#include "decode.hpp"
#include "construct.hpp"
#include "text.hpp"

namespace vexlo {

using stadium::Props;
using stadium::RawPoint;
using stadium::RawStadium;

namespace stadium {

Props Props::over(const Props& own, const Props* trait) {
    const auto pick = [&](auto member) {
        const auto& mine = own.*member;
        if (mine.has_value() || trait == nullptr) return mine;
        return trait->*member;
    };
    Props p;
    p.b_coef = pick(&Props::b_coef);
    p.c_group = pick(&Props::c_group);
    p.c_mask = pick(&Props::c_mask);
    p.radius = pick(&Props::radius);
    p.inv_mass = pick(&Props::inv_mass);
    p.damping = pick(&Props::damping);
    p.bias = pick(&Props::bias);
    p.curve = pick(&Props::curve);
    p.visible = pick(&Props::visible);
    p.color = pick(&Props::color);
    return p;
}

const Props* find_trait(const RawStadium& st, const std::optional<std::string>& name) {
    if (!name) return nullptr;
    const auto it = st.traits.find(*name);
    return it == st.traits.end() ? nullptr : &it->second;
}

std::optional<std::uint64_t> disc_ref_index(std::string_view ref) {
    constexpr std::string_view PREFIX = "disc";
    if (!ref.starts_with(PREFIX)) return std::nullopt;
    ref.remove_prefix(PREFIX.size());
    if (ref.starts_with('+')) ref.remove_prefix(1);
    if (ref.empty()) return std::nullopt;
    std::uint64_t n = 0;
    for (const char c : ref) {
        if (c < '0' || c > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (n > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
        n = n * 10 + digit;
    }
    return n;
}

Vec2 engine_point(const RawPoint& p) { return Vec2{p.x, -p.y}; }

Segment make_segment(Vec2 e0, Vec2 e1, const Props& props) {
    const double b = props.bias.value_or(0.0);
    const double a = props.curve ? *props.curve * DEGREES_TO_ENGINE_ANGLE : -0.0;
    Vec2 pa = e0;
    Vec2 pb = e1;
    double angle = a;
    double bias = -b;
    if (a < 0) {
        pa = e1;
        pb = e0;
        angle = -a;
        bias = b;
    }
    double f = std::numeric_limits<double>::infinity();
    if (angle > MIN_ARC_ANGLE && angle < MAX_ARC_ANGLE) f = 1.0 / std::tan(angle * 0.5);

    Segment s;
    s.v0 = pa;
    s.v1 = pb;
    s.b_coef = props.b_coef.value_or(1.0);
    s.bias = bias;
    s.c_group = props.c_group.value_or(flag::FLAG_WALL);
    s.c_mask = props.c_mask.value_or(flag::FLAG_ALL);
    if (!std::isfinite(f)) return s;  // straight: arc fields stay zero

    const double hx = (pb.x - pa.x) * 0.5;
    const double hy = (pb.y - pa.y) * 0.5;
    const Vec2 c{(pa.x + hx) - hy * f, (pa.y + hy) + hx * f};
    const double dx = pa.x - c.x;
    const double dy = pa.y - c.y;
    s.center = c;
    s.arc_radius = std::sqrt(dx * dx + dy * dy);
    s.t0 = Vec2{c.y - pa.y, pa.x - c.x};
    s.t1 = Vec2{pb.y - c.y, c.x - pb.x};
    if (!(f > 0)) {  // more than half a turn
        s.t0 = Vec2{-s.t0.x, -s.t0.y};
        s.t1 = Vec2{-s.t1.x, -s.t1.y};
    }
    s.curve_f = f;
    return s;
}

}  // namespace stadium

namespace {

// The ball and the stadium discs: radius 10, inv_mass 1, damping 0.99,
// b_coef 0.5 unless given.
Disc stadium_disc(const Props& p) {
    Disc d;
    d.radius = p.radius.value_or(10.0);
    d.inv_mass = p.inv_mass.value_or(1.0);
    d.damping = p.damping.value_or(0.99);
    d.b_coef = p.b_coef.value_or(0.5);
    d.c_group = p.c_group.value_or(flag::FLAG_ALL);
    d.c_mask = p.c_mask.value_or(flag::FLAG_ALL);
    return d;
}

}  // namespace

Disc stadium::player_disc(const RawPlayerPhysics& pp, std::int64_t team) {
    Disc d;
    d.radius = pp.radius.value_or(15.0);
    d.inv_mass = pp.inv_mass.value_or(0.5);
    d.damping = pp.damping.value_or(0.96);
    d.b_coef = pp.b_coef.value_or(0.5);
    d.c_group = team;
    d.c_mask = PLAYER_CMASK;
    d.acceleration = pp.acceleration.value_or(0.1);
    d.kicking_acceleration = pp.kicking_acceleration.value_or(0.07);
    d.kicking_damping = pp.kicking_damping.value_or(0.96);
    d.kick_strength = pp.kick_strength.value_or(5.0);
    d.kickback = pp.kickback.value_or(0.0);
    d.team = team;
    return d;
}

namespace {

std::int64_t goal_team(const std::string& team) {
    if (team == "red") return flag::FLAG_RED;
    if (team == "blue") return flag::FLAG_BLUE;
    return 0;
}

}  // namespace

WorldOrError world_from_vxs(std::string_view text, std::uint64_t n_red, std::uint64_t n_blue) {
    stadium::DecodeResult decoded = stadium::decode(text);
    if (const auto* error = std::get_if<std::string>(&decoded)) return std::string(BAD_JSON_PREFIX) + *error;
    return stadium::build_world(std::get<RawStadium>(decoded), n_red, n_blue);
}

WorldOrError stadium::build_world(const RawStadium& st, std::uint64_t n_red, std::uint64_t n_blue) {
    // The ball's properties, and the stadium disc that stands for it.
    Props ball_props;
    std::optional<std::size_t> ball_disc;
    if (const auto* ref = std::get_if<BallRef>(&st.ball_physics)) {
        const auto index = disc_ref_index(ref->ref);
        if (!index) return "ballPhysics ref " + quote(ref->ref) + " is not 'discN'";
        if (*index >= st.discs.size()) return "ballPhysics " + ref->ref + " references a missing disc";
        const auto& disc = st.discs[*index];
        ball_props = Props::over(disc.props, find_trait(st, disc.trait));
        ball_disc = static_cast<std::size_t>(*index);
    } else if (const auto* props = std::get_if<Props>(&st.ball_physics)) {
        ball_props = *props;
    }

    World w;
    Disc ball = stadium_disc(ball_props);
    ball.c_group = flag::FLAG_BALL | flag::FLAG_KICK | flag::FLAG_SCORE;
    ball.c_mask = flag::FLAG_ALL;
    w.discs.reserve(1 + st.discs.size() + n_red + n_blue);
    w.discs.push_back(ball);

    for (std::size_t i = 0; i < st.discs.size(); ++i) {
        if (ball_disc == i) continue;
        const auto& raw = st.discs[i];
        Disc d = stadium_disc(Props::over(raw.props, find_trait(st, raw.trait)));
        if (raw.pos) d.pos = engine_point(*raw.pos);
        w.discs.push_back(d);
    }
    w.first_player = w.discs.size();
    for (std::uint64_t i = 0; i < n_red; ++i) w.discs.push_back(player_disc(st.player_physics, flag::FLAG_RED));
    for (std::uint64_t i = 0; i < n_blue; ++i) w.discs.push_back(player_disc(st.player_physics, flag::FLAG_BLUE));

    w.segments.reserve(st.segments.size());
    for (const auto& raw : st.segments) {
        const Props props = Props::over(raw.props, find_trait(st, raw.trait));
        if (raw.v0 >= st.vertexes.size() || raw.v1 >= st.vertexes.size()) {
            return "segment references missing vertex " + std::to_string(raw.v0) + " / " + std::to_string(raw.v1);
        }
        const auto& v0 = st.vertexes[raw.v0];
        const auto& v1 = st.vertexes[raw.v1];
        w.segments.push_back(make_segment(Vec2{v0.x, -v0.y}, Vec2{v1.x, -v1.y}, props));
    }

    w.planes.reserve(st.planes.size());
    for (const auto& raw : st.planes) {
        const Props props = Props::over(raw.props, find_trait(st, raw.trait));
        Plane p;
        p.normal = engine_point(raw.normal);
        p.dist = raw.dist;
        p.b_coef = props.b_coef.value_or(1.0);
        p.c_group = props.c_group.value_or(flag::FLAG_WALL);
        p.c_mask = props.c_mask.value_or(flag::FLAG_ALL);
        w.planes.push_back(p);
    }

    w.goals.reserve(st.goals.size());
    for (const auto& raw : st.goals) {
        w.goals.push_back(Goal{engine_point(raw.p0), engine_point(raw.p1), goal_team(raw.team)});
    }

    for (const auto& p : st.red_spawn_points) w.red_spawn_points.push_back(engine_point(p));
    for (const auto& p : st.blue_spawn_points) w.blue_spawn_points.push_back(engine_point(p));
    w.n_players = n_red + n_blue;
    w.resize_player_state();
    w.steps = 0;
    w.kick_rate_min = 2;
    w.kick_rate_cost = 0;
    w.kick_rate_cap = 1;
    w.spawn_distance = st.spawn_distance.value_or(DEFAULT_SPAWN_DISTANCE);
    w.kickoff_team = flag::FLAG_RED;
    w.goal_timer = 0;
    w.red_score = 0;
    w.blue_score = 0;
    w.phase = Phase::Kickoff;

    w.reset_positions();
    return w;
}

}  // namespace vexlo
