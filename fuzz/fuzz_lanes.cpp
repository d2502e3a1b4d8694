// libFuzzer target: the lane-parallel tick and ball prediction against the
// scalar ones. The input becomes a stadium text (read back through the real
// decoder and world construction), a batch of worlds made from it with their
// own states, kick settings and inputs, and a list of prediction offsets.
// Every lane width the processor has must give the scalar bits, signs of
// zeros and NaNs included; any difference aborts.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "lanes/lanes.hpp"
#include "physics/predict.hpp"
#include "vexlo/classic.hpp"
#include "vexlo/stadium.hpp"

namespace {

using nlohmann::json;
using vexlo::World;

// Values where arithmetic changes character: signed zeros, the ends of the
// double range, subnormals, squares that overflow or underflow, and the
// stadium-sized numbers around which play happens.
constexpr double SPECIAL[] = {0.0,     -0.0,    1.0,     -1.0,     0.5,      -0.5,    10.0,
                              -10.0,   15.0,    100.0,   -100.0,   370.0,    -370.0,  0.99,
                              2.0,     1e15,    -1e15,   1e16,     1e154,    -1e154,  1.4e154,
                              1e300,   -1e300,  1.797e308, -1.797e308, 1e-300, 5e-324, -5e-324,
                              1e-160,  1e-200,  2.2250738585072014e-308, 1.0000000000000002, 4.0,
                              -4.0,    64.0,    -64.0,   0.1};

double special(FuzzedDataProvider& in) {
    return in.PickValueInArray(SPECIAL);
}

// A number a stadium text can hold (finite).
double stadium_number(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 3)) {
        case 0: return special(in);
        case 1: return static_cast<double>(in.ConsumeIntegralInRange<int>(-420, 420));
        case 2: return in.ConsumeFloatingPointInRange<double>(-500.0, 500.0);
        default: {
            const double x = std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
            return std::isfinite(x) ? x : special(in);
        }
    }
}

// Any double, for states that state exchange writes as they come.
double state_number(FuzzedDataProvider& in, double near) {
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
        case 0: return special(in);
        case 1: {
            // Quiet NaNs only: compilers assume by default that no NaN
            // signals, so neither path promises to keep a signalling one (a
            // clang build of the lanes quieted one that the scalar tick kept).
            const double x = std::bit_cast<double>(in.ConsumeIntegral<std::uint64_t>());
            return std::isnan(x) ? std::bit_cast<double>(std::bit_cast<std::uint64_t>(x) | (1ull << 51)) : x;
        }
        case 2: {
            constexpr double odd[] = {std::numeric_limits<double>::infinity(),
                                      -std::numeric_limits<double>::infinity(),
                                      std::numeric_limits<double>::quiet_NaN(),
                                      -std::numeric_limits<double>::quiet_NaN()};
            return in.PickValueInArray(odd);
        }
        default: return near + in.ConsumeFloatingPointInRange<double>(-60.0, 60.0);
    }
}

json flags(FuzzedDataProvider& in) {
    constexpr const char* names[] = {"ball", "red", "blue", "redKO", "blueKO", "wall", "all", "kick", "score"};
    json list = json::array();
    const int n = in.ConsumeIntegralInRange<int>(0, 3);
    for (int i = 0; i < n; ++i) list.push_back(in.PickValueInArray(names));
    return list;
}

// Adds each of `keys` to `o` or leaves it out.
void maybe_numbers(FuzzedDataProvider& in, json& o, std::initializer_list<const char*> keys) {
    for (const char* k : keys) {
        if (in.ConsumeBool()) o[k] = stadium_number(in);
    }
}

void maybe_flags(FuzzedDataProvider& in, json& o) {
    if (in.ConsumeBool()) o["cGroup"] = flags(in);
    if (in.ConsumeBool()) o["cMask"] = flags(in);
}

json point(FuzzedDataProvider& in) { return json::array({stadium_number(in), stadium_number(in)}); }

json stadium(FuzzedDataProvider& in) {
    json s = json::object();
    json ball = json::object();
    maybe_numbers(in, ball, {"radius", "invMass", "damping", "bCoef"});
    s["ballPhysics"] = ball;
    json player = json::object();
    maybe_numbers(in, player, {"radius", "invMass", "damping", "bCoef", "acceleration",
                               "kickingAcceleration", "kickingDamping", "kickStrength", "kickback"});
    s["playerPhysics"] = player;
    const int n_vertexes = in.ConsumeIntegralInRange<int>(0, 6);
    s["vertexes"] = json::array();
    for (int i = 0; i < n_vertexes; ++i)
        s["vertexes"].push_back({{"x", stadium_number(in)}, {"y", stadium_number(in)}});
    s["segments"] = json::array();
    for (int i = in.ConsumeIntegralInRange<int>(0, 4); n_vertexes > 0 && i > 0; --i) {
        json seg = {{"v0", in.ConsumeIntegralInRange<int>(0, n_vertexes - 1)},
                    {"v1", in.ConsumeIntegralInRange<int>(0, n_vertexes - 1)}};
        maybe_numbers(in, seg, {"curve", "bias", "bCoef"});
        maybe_flags(in, seg);
        s["segments"].push_back(seg);
    }
    s["planes"] = json::array();
    for (int i = in.ConsumeIntegralInRange<int>(0, 4); i > 0; --i) {
        json plane = {{"normal", point(in)}, {"dist", stadium_number(in)}};
        maybe_numbers(in, plane, {"bCoef"});
        maybe_flags(in, plane);
        s["planes"].push_back(plane);
    }
    s["discs"] = json::array();
    for (int i = in.ConsumeIntegralInRange<int>(0, 3); i > 0; --i) {
        json disc = {{"pos", point(in)}};
        maybe_numbers(in, disc, {"radius", "invMass", "damping", "bCoef"});
        maybe_flags(in, disc);
        s["discs"].push_back(disc);
    }
    s["goals"] = json::array();
    for (int i = in.ConsumeIntegralInRange<int>(0, 3); i > 0; --i)
        s["goals"].push_back({{"p0", point(in)}, {"p1", point(in)}, {"team", in.ConsumeBool() ? "red" : "blue"}});
    if (in.ConsumeBool()) s["redSpawnPoints"] = json::array({point(in)});
    if (in.ConsumeBool()) s["spawnDistance"] = stadium_number(in);
    return s;
}

// What state exchange and the settings can change in a world, chosen per lane.
void vary_state(FuzzedDataProvider& in, World& w) {
    for (std::size_t i = 0; i < w.discs.size(); ++i) {
        if (!in.ConsumeBool()) continue;
        vexlo::Disc& d = w.discs[i];
        d.pos = {state_number(in, d.pos.x), state_number(in, d.pos.y)};
        d.vel = {state_number(in, 0.0), state_number(in, 0.0)};
    }
    constexpr std::int64_t masks[] = {vexlo::PLAYER_CMASK, vexlo::KICKOFF_CMASK_RED,
                                      vexlo::KICKOFF_CMASK_BLUE, 0, 63, -1};
    if (in.ConsumeBool()) {
        const std::int64_t m = in.PickValueInArray(masks);
        for (std::size_t p = 0; p < w.n_players; ++p) w.player(p).c_mask = m;
    }
    for (std::size_t p = 0; p < w.n_players; ++p) {
        w.kicking[p] = in.ConsumeBool();
        w.kick_held[p] = in.ConsumeBool();
        w.kick_cooldown[p] = in.ConsumeIntegralInRange<std::int64_t>(-2, 3);
        w.kick_credit[p] = in.ConsumeIntegralInRange<std::int64_t>(-3, 3);
    }
    if (in.ConsumeBool()) {
        w.kick_rate_min = in.ConsumeIntegralInRange<std::int64_t>(0, 3);
        w.kick_rate_cost = in.ConsumeIntegralInRange<std::int64_t>(0, 4);
        w.kick_rate_cap = in.ConsumeIntegralInRange<std::int64_t>(0, 3);
    }
    w.phase = static_cast<vexlo::Phase>(in.ConsumeIntegralInRange<int>(0, 2));
    w.goal_timer = in.ConsumeIntegralInRange<std::int64_t>(0, 3);
    w.kickoff_team = in.ConsumeBool() ? vexlo::flag::FLAG_RED : vexlo::flag::FLAG_BLUE;
}

std::vector<vexlo::PlayerInput> inputs(FuzzedDataProvider& in, std::size_t n) {
    std::vector<vexlo::PlayerInput> out(n);
    for (auto& p : out) {
        if (in.ConsumeBool()) {
            p.dx = in.ConsumeIntegral<std::int64_t>();
            p.dy = in.ConsumeIntegral<std::int64_t>();
        } else {
            p.dx = in.ConsumeIntegralInRange<std::int64_t>(-2, 2);
            p.dy = in.ConsumeIntegralInRange<std::int64_t>(-2, 2);
        }
        p.kick = in.ConsumeIntegralInRange<std::int64_t>(-1, 3);
    }
    return out;
}

bool same_bytes(const void* a, const void* b, std::size_t n) { return n == 0 || std::memcmp(a, b, n) == 0; }

template <typename T>
bool same_vector(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && same_bytes(a.data(), b.data(), a.size() * sizeof(T));
}

bool same_world(const World& a, const World& b) {
    return same_vector(a.discs, b.discs) && a.kicking == b.kicking && a.kick_held == b.kick_held &&
           same_vector(a.kick_cooldown, b.kick_cooldown) && same_vector(a.kick_credit, b.kick_credit) &&
           a.steps == b.steps && a.kickoff_team == b.kickoff_team && a.goal_timer == b.goal_timer &&
           a.red_score == b.red_score && a.blue_score == b.blue_score && a.phase == b.phase;
}

std::string stadium_text;  // of the input being run, for the report

void print_discs(const char* label, const World& w) {
    const auto bits = [](double x) { return static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(x)); };
    for (const vexlo::Disc& d : w.discs)
        std::fprintf(stderr, "  %s pos (%a, %a) vel (%a, %a) bits %016llx %016llx %016llx %016llx mask %lld\n",
                     label, d.pos.x, d.pos.y, d.vel.x, d.vel.y, bits(d.pos.x), bits(d.pos.y), bits(d.vel.x),
                     bits(d.vel.y), static_cast<long long>(d.c_mask));
    for (std::size_t p = 0; p < w.n_players; ++p)
        std::fprintf(stderr, "  %s kick %d %d %lld %lld\n", label, int(w.kicking[p]), int(w.kick_held[p]),
                     static_cast<long long>(w.kick_cooldown[p]), static_cast<long long>(w.kick_credit[p]));
    std::fprintf(stderr, "  %s steps %llu phase %d timer %lld score %d:%d kickoff %lld\n", label,
                 static_cast<unsigned long long>(w.steps), int(w.phase), static_cast<long long>(w.goal_timer),
                 w.red_score, w.blue_score, static_cast<long long>(w.kickoff_team));
}

[[noreturn]] void differ(const char* what, std::size_t width, std::size_t lane,
                         const World* scalar = nullptr, const World* lanes = nullptr) {
    std::fprintf(stderr, "lanes differ from the scalar path: %s, width %zu, lane %zu\nstadium %s\n", what,
                 width, lane, stadium_text.c_str());
    if (scalar != nullptr) print_discs("scalar", *scalar);
    if (lanes != nullptr) print_discs("lanes ", *lanes);
    std::abort();
}

struct Case {
    std::vector<World> worlds;
    std::vector<std::vector<vexlo::PlayerInput>> first_inputs, second_inputs;
    std::uint64_t ticks;
    bool stop_at_goal;
    std::vector<std::uint64_t> offsets;
};

void check_tick(const Case& c, std::size_t width, bool (*stepper)(const vexlo::LaneRun&), bool uniform) {
    const std::size_t n = std::min(width, c.worlds.size());
    std::vector<World> scalar(c.worlds.begin(), c.worlds.begin() + n), lanes = scalar;
    std::vector<World*> ps, pl;
    std::vector<const vexlo::PlayerInput*> first, second;
    for (std::size_t l = 0; l < n; ++l) {
        ps.push_back(&scalar[l]);
        pl.push_back(&lanes[l]);
        first.push_back(c.first_inputs[l].data());
        second.push_back(c.second_inputs[l].data());
    }
    std::vector<std::int8_t> scored_s(n), scored_l(n);
    // Two calls, so that the lanes' kept geometry and clear boxes are reused.
    for (int call = 0; call < 2; ++call) {
        vexlo::step_scalar({ps.data(), n, first.data(), second.data(), c.ticks, c.stop_at_goal, scored_s.data()});
        if (!stepper({pl.data(), n, first.data(), second.data(), c.ticks, c.stop_at_goal, scored_l.data(), uniform}))
            differ("a batch of one layout refused", width, 0);
        for (std::size_t l = 0; l < n; ++l) {
            if (scored_s[l] != scored_l[l]) differ("goal", width, l);
            if (!same_world(scalar[l], lanes[l])) differ("tick", width, l, &scalar[l], &lanes[l]);
        }
    }
}

// A lone world's scalar tick, which skips the wall tests its workspace's
// clear boxes and wall grid rule out, against the plain scalar tick. The
// workspace knows the stadium's walls, which no world changes.
void check_boxed_scalar(const Case& c, const World& base) {
    const auto workspace = vexlo::make_lane_workspace(base, 1, 1);
    for (std::size_t l = 0; l < c.worlds.size(); ++l) {
        World plain = c.worlds[l], boxed = plain;
        World* pp = &plain;
        World* pb = &boxed;
        const vexlo::PlayerInput* first = c.first_inputs[l].data();
        const vexlo::PlayerInput* second = c.second_inputs[l].data();
        std::int8_t scored_p = 0, scored_b = 0;
        for (int call = 0; call < 2; ++call) {
            vexlo::step_scalar({&pp, 1, &first, &second, c.ticks, c.stop_at_goal, &scored_p});
            vexlo::step_scalar({&pb, 1, &first, &second, c.ticks, c.stop_at_goal, &scored_b, true,
                                workspace.get(), 0});
            if (scored_p != scored_b) differ("goal, lone world with clear boxes", 1, l);
            if (!same_world(plain, boxed)) differ("tick, lone world with clear boxes", 1, l, &plain, &boxed);
        }
    }
}

void check_prediction(const Case& c, std::size_t width, bool (*predictor)(const vexlo::LanePrediction&),
                      bool uniform) {
    const std::size_t n = std::min(width, c.worlds.size());
    const vexlo::PredictionPlan plan = vexlo::plan_prediction(c.offsets);
    const std::size_t k = c.offsets.size();
    std::vector<std::vector<vexlo::Vec2>> got(n, std::vector<vexlo::Vec2>(k));
    std::vector<const World*> from;
    std::vector<vexlo::Vec2*> rows;
    for (std::size_t l = 0; l < n; ++l) {
        from.push_back(&c.worlds[l]);
        rows.push_back(got[l].data());
    }
    if (!predictor({from.data(), n, &plan, rows.data(), uniform})) differ("a prediction refused", width, 0);
    for (std::size_t l = 0; l < n; ++l) {
        std::vector<vexlo::Vec2> want(k);
        vexlo::predict_ball(c.worlds[l], plan, want);
        if (same_vector(want, got[l])) continue;
        for (std::size_t j = 0; j < k; ++j)
            std::fprintf(stderr, "  offset %llu: scalar (%a, %a) lanes (%a, %a)\n",
                         static_cast<unsigned long long>(c.offsets[j]), want[j].x, want[j].y, got[l][j].x,
                         got[l][j].y);
        differ("prediction", width, l, &c.worlds[l]);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    // One input in four plays on the built-in stadium, where walls and posts
    // stand as in real matches; the others on a stadium made up from the bytes.
    if (in.ConsumeIntegralInRange<int>(0, 3) == 0) {
        stadium_text = vexlo::CLASSIC_STADIUM;
    } else {
        stadium_text = stadium(in).dump();
    }
    const std::string& text = stadium_text;
    const std::uint64_t n_red = in.ConsumeIntegralInRange<int>(0, 2);
    const std::uint64_t n_blue = in.ConsumeIntegralInRange<int>(0, 2);
    auto built = vexlo::world_from_vxs(text, n_red, n_blue);
    if (!std::holds_alternative<World>(built)) return 0;
    const World& base = std::get<World>(built);

    Case c;
    const std::size_t count = in.ConsumeIntegralInRange<std::size_t>(1, vexlo::MAX_LANES);
    for (std::size_t l = 0; l < count; ++l) {
        World w = base;
        vary_state(in, w);
        c.worlds.push_back(std::move(w));
        c.first_inputs.push_back(inputs(in, base.n_players));
        c.second_inputs.push_back(in.ConsumeBool() ? c.first_inputs.back() : inputs(in, base.n_players));
    }
    c.ticks = in.ConsumeIntegralInRange<std::uint64_t>(1, 24);
    c.stop_at_goal = in.ConsumeBool();
    for (int i = in.ConsumeIntegralInRange<int>(0, 5); i > 0; --i)
        c.offsets.push_back(in.ConsumeIntegralInRange<std::uint64_t>(0, 40));
    const bool uniform = in.ConsumeBool();

    check_boxed_scalar(c, base);
    if (vexlo::has_avx2()) {
        check_tick(c, 4, vexlo::step_lanes_avx2, uniform);
        check_prediction(c, 4, vexlo::predict_lanes_avx2, uniform);
    }
    if (vexlo::has_avx512()) {
        check_tick(c, 8, vexlo::step_lanes_avx512, uniform);
        check_prediction(c, 8, vexlo::predict_lanes_avx512, uniform);
    }
    return 0;
}
