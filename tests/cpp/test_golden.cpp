// Recorded traces. Fixed-seed matches and contact cases are reduced to state
// digests kept in tests/data/golden; the scalar tick and the lane-parallel
// tick at every group size this processor runs must reproduce them bit for
// bit. A change of rounding anywhere in the physics shows here even when the
// scalar and lane paths change alike.
//
// Regenerate only on a deliberate, explained change to the physics (and say
// in the commit why the numbers moved):
//   VEXLO_REGENERATE_GOLDEN=1 vexlo_cpp_tests --gtest_filter='Golden*'
// rewrites the records from the scalar tick, then checks the lanes against them.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "engine_world.hpp"
#include "golden_digest.hpp"
#include "physics/contacts.hpp"
#include "lane_checks.hpp"
#include "lanes/lanes.hpp"
#include "vexlo/stadium.hpp"
#include "vexlo/classic.hpp"

namespace vexlo {
namespace {

using test::Fnv1a;
using test::SplitMix64;

// ---- Records on disk ----

bool regenerating() {
    const char* flag = std::getenv("VEXLO_REGENERATE_GOLDEN");
    return flag != nullptr && std::string_view(flag) == "1";
}

std::string golden_path(std::string_view file) {
    return std::string(VEXLO_GOLDEN_DIR) + "/" + std::string(file);
}

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The record's lines, or (when regenerating) `fresh` after writing it with
// the header. '#' lines are comments.
std::vector<std::string> recorded(std::string_view file, std::string_view header,
                                  const std::vector<std::string>& fresh) {
    const std::string path = golden_path(file);
    if (regenerating()) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << "# " << header << "\n# Regenerate only on a deliberate, explained change: see README.md.\n";
        for (const std::string& line : fresh) out << line << '\n';
        EXPECT_TRUE(out.good()) << "could not write " << path;
        return fresh;
    }
    std::vector<std::string> lines;
    std::istringstream in(read_text(path));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '#') lines.push_back(line);
    }
    EXPECT_FALSE(lines.empty()) << path << " is missing or empty";
    return lines;
}

::testing::AssertionResult same_lines(std::string_view what, const std::vector<std::string>& want,
                                      const std::vector<std::string>& got) {
    for (std::size_t i = 0; i < std::max(want.size(), got.size()); ++i) {
        const std::string w = i < want.size() ? want[i] : "(nothing)";
        const std::string g = i < got.size() ? got[i] : "(nothing)";
        if (w != g)
            return ::testing::AssertionFailure() << what << ": first difference at record line "
                                                 << i + 1 << "\n  recorded: " << w << "\n  got:      " << g;
    }
    return ::testing::AssertionSuccess();
}

// ---- Match scenarios ----

// Plays toward the goal the other team defends: runs to the spot behind the
// ball, then pushes and kicks through it. Teams take turns: for 40 calls
// red attacks while blue wanders, then the other way round, then both attack.
// Wanderers and one input in six send random inputs (kicks of every kind,
// long and zero movement vectors).
PlayerInput striker(const World& w, std::size_t slot, std::size_t call, SplitMix64& rng) {
    const Disc& me = w.player(slot);
    const std::size_t turn = call / 40 % 3;
    const bool attacks = turn == 2 || (turn == 0) == (me.team == flag::FLAG_RED);
    if (!attacks || rng.below(6) == 0) return {rng.below(9) - 4, rng.below(9) - 4, rng.below(4) - 1};
    Vec2 aim{};
    for (const Goal& g : w.goals) {
        if (g.team != 0 && g.team != me.team) aim = (g.p0 + g.p1) * 0.5;
    }
    const Vec2 ball = w.ball().pos;
    const Vec2 from_aim = ball - aim;
    const double far = std::sqrt(length_sq(from_aim));
    const double reach = me.radius + w.ball().radius;
    const Vec2 behind = far > 0.0 ? ball + from_aim * (reach / far) : ball;
    const bool lined_up = length_sq(behind - me.pos) < 144.0;
    const Vec2 dir = lined_up ? aim - me.pos : behind - me.pos;
    const double len = std::sqrt(length_sq(dir));
    const double scale = static_cast<double>(1 + rng.below(5));
    PlayerInput in;
    if (len > 0.0) {
        in.dx = std::lround(dir.x / len * scale);
        in.dy = std::lround(dir.y / len * scale);
    }
    in.kick = lined_up ? 1 + rng.below(2) : rng.below(2) - 1;
    return in;
}

struct Scenario {
    const char* name;   // the record is <name>.txt
    const char* about;  // its header
    World start;
    std::size_t variants;  // each plays with its own input stream
    std::size_t calls;
    void (*script)(World&, std::size_t call);  // settings changed before a call
};

constexpr std::size_t kCallsPerBlock = 20;

// Ticks per call, shared by every variant so that variants can share a lane group.
std::vector<std::uint64_t> call_lengths(const Scenario& s) {
    SplitMix64 rng(0xCA11);
    std::vector<std::uint64_t> ticks(s.calls);
    for (std::uint64_t& t : ticks) t = 1 + static_cast<std::uint64_t>(rng.below(8));
    return ticks;
}

struct Trace {
    std::size_t variant;
    World world;
    SplitMix64 rng;
    Fnv1a block;
    std::vector<std::string> lines;
};

// Variants start differently: from the kickoff, from a ball already in
// play somewhere on the field, or from a blue kickoff.
Trace start_trace(const Scenario& s, std::size_t variant) {
    Trace t{variant, s.start, SplitMix64(0x601DE11 + 7919 * variant), {}, {}};
    if (variant % 3 == 1) {
        t.world.ball().pos = {t.rng.uniform(-200, 200), t.rng.uniform(-100, 100)};
        t.world.ball().vel = {t.rng.uniform(-6, 6), t.rng.uniform(-6, 6)};
        t.world.phase = Phase::Playing;
    } else if (variant % 3 == 2) {
        t.world.kickoff_team = flag::FLAG_BLUE;
    }
    return t;
}

using Stepper = bool (*)(const LaneRun&);

// Plays the scenario for a group of traces at once: through `stepper`, or
// through the scalar tick when it is null. Each call steps the group with
// goals ending a world's call, as environments are stepped; a line is
// recorded per variant every kCallsPerBlock calls.
void play(const Scenario& s, std::vector<Trace>& group, Stepper stepper, bool uniform) {
    const std::vector<std::uint64_t> ticks = call_lengths(s);
    const std::size_t n = group.size();
    std::vector<World*> worlds;
    for (Trace& t : group) worlds.push_back(&t.world);
    std::vector<std::vector<PlayerInput>> odd(n), even(n);
    std::vector<const PlayerInput*> odd_at(n), even_at(n);
    std::vector<std::int8_t> scored(n);
    for (std::size_t call = 0; call < s.calls; ++call) {
        for (std::size_t l = 0; l < n; ++l) {
            Trace& t = group[l];
            if (s.script) s.script(t.world, call);
            odd[l].clear();
            even[l].clear();
            for (std::size_t p = 0; p < t.world.n_players; ++p) odd[l].push_back(striker(t.world, p, call, t.rng));
            for (std::size_t p = 0; p < t.world.n_players; ++p) even[l].push_back(striker(t.world, p, call, t.rng));
            odd_at[l] = odd[l].data();
            even_at[l] = even[l].data();
        }
        const LaneRun run{worlds.data(), n, odd_at.data(), even_at.data(), ticks[call], true,
                          scored.data(), uniform};
        if (stepper == nullptr) {
            step_scalar(run);
        } else {
            ASSERT_TRUE(stepper(run)) << "the lanes refused the group";
        }
        for (std::size_t l = 0; l < n; ++l) {
            Trace& t = group[l];
            t.block.add(std::int64_t{scored[l]});
            test::add_world(t.block, t.world);
            if ((call + 1) % kCallsPerBlock == 0 || call + 1 == s.calls) {
                const std::size_t first = call / kCallsPerBlock * kCallsPerBlock;
                t.lines.push_back("variant " + std::to_string(t.variant) + " calls " +
                                  std::to_string(first) + "-" + std::to_string(call) + " steps " +
                                  std::to_string(t.world.steps) + " scores " +
                                  std::to_string(t.world.red_score) + ":" +
                                  std::to_string(t.world.blue_score) + " " + t.block.hex());
                t.block = Fnv1a{};
            }
        }
    }
}

std::vector<std::string> lines_of_variant(const std::vector<std::string>& lines, std::size_t v) {
    const std::string prefix = "variant " + std::to_string(v) + " ";
    std::vector<std::string> out;
    for (const std::string& line : lines) {
        if (line.rfind(prefix, 0) == 0) out.push_back(line);
    }
    return out;
}

// The scalar tick against the record, then every lane group size the
// processor has, with groups made of variants (start + l) mod variants, so
// that a group larger than the variant count repeats some.
void check_scenario(const Scenario& s) {
    std::vector<std::string> scalar_lines;
    for (std::size_t v = 0; v < s.variants; ++v) {
        std::vector<Trace> alone{start_trace(s, v)};
        play(s, alone, nullptr, true);
        scalar_lines.insert(scalar_lines.end(), alone[0].lines.begin(), alone[0].lines.end());
    }
    const std::vector<std::string> want =
        recorded(std::string(s.name) + ".txt", std::string(s.name) + ": " + s.about, scalar_lines);
    EXPECT_TRUE(same_lines(std::string(s.name) + ", scalar tick", want, scalar_lines));

    for (const test::LaneWidth& lanes : test::lane_widths()) {
        const Stepper stepper = lanes.step;
        const std::size_t width = lanes.width;
        for (std::size_t count = 2; count <= width; ++count) {
            // Odd sizes read every lane's own fixed disc properties, even ones the shared copy.
            const bool uniform = count % 2 == 0;
            for (std::size_t first = 0; first < s.variants; first += count) {
                std::vector<Trace> group;
                for (std::size_t l = 0; l < count; ++l)
                    group.push_back(start_trace(s, (first + l) % s.variants));
                play(s, group, stepper, uniform);
                for (std::size_t l = 0; l < count; ++l) {
                    const std::string what = std::string(s.name) + ", " +
                                             lanes.isa + " group of " +
                                             std::to_string(count) + ", lane " + std::to_string(l);
                    ASSERT_TRUE(same_lines(what, lines_of_variant(want, group[l].variant),
                                           group[l].lines));
                }
            }
        }
    }
    if (const auto why = test::untested_widths()) GTEST_SKIP() << *why;
}

World built(std::string_view text, std::uint64_t n_red, std::uint64_t n_blue) {
    auto result = world_from_vxs(text, n_red, n_blue);
    if (auto* error = std::get_if<std::string>(&result)) {
        ADD_FAILURE() << "stadium does not build: " << *error;
        return World{};
    }
    return std::get<World>(std::move(result));
}

// Slower cooldowns, bursts, then a negative cost that grows the credit.
void change_kick_rates(World& w, std::size_t call) {
    switch (call) {
        case 90:
            w.kick_rate_min = 6;
            break;
        case 180:
            w.kick_rate_min = 0;
            w.kick_rate_cost = 3;
            w.kick_rate_cap = 2;
            break;
        case 270:
            w.kick_rate_min = 1;
            w.kick_rate_cost = -2;
            w.kick_rate_cap = 5;
            break;
        default:
            break;
    }
}

TEST(Golden, Classic1v1) {
    check_scenario({"classic_1v1", "the built-in stadium, one player a side", built(CLASSIC_STADIUM, 1, 1),
                    3, 400, nullptr});
}

TEST(Golden, Classic3v3WithKickRateChanges) {
    check_scenario({"classic_3v3",
                    "the built-in stadium, three a side, kick rate limit changed at calls 90, 180, 270",
                    built(CLASSIC_STADIUM, 3, 3), 3, 360, change_kick_rates});
}

TEST(Golden, CurvedArena) {
    const std::string text = read_text(golden_path("curved_arena.vxs"));
    ASSERT_FALSE(text.empty()) << "missing curved_arena.vxs";
    check_scenario({"curved_arena",
                    "curved_arena.vxs, two a side: arcs of 90, 180, 270 and -90 degrees, one-sided "
                    "walls, movable and kickable discs, kickoff barriers, one-way masks",
                    built(text, 2, 2), 3, 400, change_kick_rates});
}

// ---- Contact functions ----

struct ProbeLines {
    std::vector<std::string> lines;
    void add(std::string_view function, std::string_view name, const Fnv1a& h) {
        lines.push_back(std::string(function) + " " + std::string(name) + " " + h.hex());
    }
};

using test::contact_disc;

void add_disc(Fnv1a& h, const Disc& d) {
    h.add(d.pos);
    h.add(d.vel);
}

void add_hit(Fnv1a& h, const std::optional<SegmentHit>& hit) {
    h.add(hit.has_value());
    if (hit) {
        h.add(hit->dist);
        h.add(hit->normal);
    }
}

// A NaN with a payload of its own, so that a result passing it on unchanged
// differs from one that makes a fresh NaN.
const double kPayloadNaN = std::bit_cast<double>(0x7FF80000DEADBEEFULL);
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTiny = std::numeric_limits<double>::denorm_min();

void probe_disc_disc(ProbeLines& out, std::string_view name, Disc a, Disc b) {
    disc_disc(a, b);
    Fnv1a h;
    add_disc(h, a);
    add_disc(h, b);
    out.add("disc_disc", name, h);
}

void probe_disc_plane(ProbeLines& out, std::string_view name, Disc d, Plane p) {
    disc_plane(d, p);
    Fnv1a h;
    add_disc(h, d);
    out.add("disc_plane", name, h);
}

void probe_disc_vertex(ProbeLines& out, std::string_view name, Vec2 pos, Vec2 vel, double radius,
                       double b_disc, Vec2 vertex, double b_vertex) {
    disc_vertex(pos, vel, radius, b_disc, vertex, b_vertex);
    Fnv1a h;
    h.add(pos);
    h.add(vel);
    out.add("disc_vertex", name, h);
}

void probe_no_curve(ProbeLines& out, std::string_view name, Vec2 pos, Vec2 v0, Vec2 v1) {
    Fnv1a h;
    add_hit(h, segment_no_curve(pos, v0, v1));
    out.add("segment_no_curve", name, h);
}

void probe_curve(ProbeLines& out, std::string_view name, Vec2 pos, Vec2 c, double r, Vec2 t0,
                 Vec2 t1, double curve_f) {
    Fnv1a h;
    add_hit(h, segment_curve(pos, c, r, t0, t1, curve_f));
    out.add("segment_curve", name, h);
}

void probe_segment(ProbeLines& out, std::string_view name, Disc d, Segment s) {
    disc_segment(d, s);
    Fnv1a h;
    add_disc(h, d);
    out.add("disc_segment", name, h);
}

Segment probe_wall(Vec2 v0, Vec2 v1, double bias, double b_coef) {
    Segment s;
    s.v0 = v0;
    s.v1 = v1;
    s.bias = bias;
    s.b_coef = b_coef;
    return s;
}

void chosen_probes(ProbeLines& out) {
    const auto D = contact_disc;
    probe_disc_disc(out, "overlap", D({0, 0}, {1, 0}, 6, 1, 0.5), D({10, 0}, {0, 0}, 6, 1, 0.5));
    probe_disc_disc(out, "exact-touch", D({0, 0}, {1, 0}, 6, 1, 0.5), D({12, 0}, {0, 0}, 6, 1, 0.5));
    probe_disc_disc(out, "separating", D({0, 0}, {-1, 0}, 6, 1, 0.5), D({10, 0}, {0, 0}, 6, 1, 0.5));
    probe_disc_disc(out, "immovable-first", D({0, 0}, {0, 0}, 8, 0, 0.5), D({15, 1}, {-2, 0.5}, 10, 1, 0.55));
    probe_disc_disc(out, "immovable-second", D({3, 4}, {0.3, -1}, 10, 1.1, 0.45), D({0, 0}, {0, 0}, 8, 0, 0.55));
    probe_disc_disc(out, "both-immovable", D({0, 0}, {1, 2}, 8, 0, 0.5), D({5, 0}, {-3, 0}, 8, 0, 0.5));
    probe_disc_disc(out, "same-centre", D({3, 3}, {1, 0}, 6, 1, 0.5), D({3, 3}, {0, 0}, 6, 1, 0.5));
    probe_disc_disc(out, "negative-zeros", D({-0.0, 0}, {-0.0, -0.0}, 6, 1, 0.5), D({0, 10}, {0, -0.0}, 6, 1, 0.5));
    probe_disc_disc(out, "denormal-gap", D({kTiny, 0}, {0, 0}, 1, 1, 0.5), D({0, 0}, {0, 0}, 1, 1, 0.5));
    probe_disc_disc(out, "nan-position", D({kPayloadNaN, 0}, {1, 0}, 6, 1, 0.5), D({10, 0}, {0, 0}, 6, 1, 0.5));
    probe_disc_disc(out, "nan-velocity", D({0, 0}, {kPayloadNaN, 0}, 6, 1, 0.5), D({10, 0}, {0, 0}, 6, 1, 0.5));
    probe_disc_disc(out, "infinite-velocity", D({0, 0}, {kInf, 0}, 6, 1, 0.5), D({10, 0}, {0, 0}, 6, 1, 0.5));
    probe_disc_disc(out, "infinite-position", D({-kInf, 0}, {0, 0}, 6, 1, 0.5), D({10, 0}, {0, 0}, 6, 1, 0.5));

    const Plane floor{{0, 1}, 0.0, 0.3, 0, 0}, long_normal{{0, 2}, 0.0, 0.5, 0, 0};
    probe_disc_plane(out, "long-normal", D({0, 5}, {0, -1}, 10, 1, 0.5), long_normal);
    probe_disc_plane(out, "rounding-coefficients", D({1, 3}, {0.7, -2.3}, 9.5, 1.1, 0.45), floor);
    probe_disc_plane(out, "exact-touch", D({0, 10}, {0, -1}, 10, 1, 0.5), floor);
    probe_disc_plane(out, "moving-away", D({0, 5}, {0, 1}, 10, 1, 0.5), floor);
    probe_disc_plane(out, "slanted-3-4", D({-10, 8}, {2, -3}, 15, 0.5, 0.55), Plane{{3, 4}, -5.0, 0.65, 0, 0});
    probe_disc_plane(out, "vanishing-normal", D({0, 5}, {0, -1}, 10, 1, 0.5), Plane{{1e-200, 0}, 0.0, 1.0, 0, 0});
    probe_disc_plane(out, "nan-position", D({0, kPayloadNaN}, {0, -1}, 10, 1, 0.5), floor);
    probe_disc_plane(out, "nan-velocity", D({0, 5}, {kPayloadNaN, -1}, 10, 1, 0.5), floor);

    probe_disc_vertex(out, "exact-touch", {10, 0}, {-1, 0}, 10, 0.5, {0, 0}, 0.5);
    probe_disc_vertex(out, "inside", {0, 6}, {0.2, -0.3}, 10, 0.45, {0, 0}, 0.3);
    probe_disc_vertex(out, "on-vertex", {0, 0}, {1, 1}, 10, 0.5, {0, 0}, 0.5);
    probe_disc_vertex(out, "apart", {20, 0}, {-1, 0}, 10, 0.5, {0, 0}, 0.5);
    probe_disc_vertex(out, "moving-away", {3, 4}, {3, 4}, 10, 0.5, {0, 0}, 0.5);

    probe_no_curve(out, "between", {5, 1}, {0, 0}, {10, 0});
    probe_no_curve(out, "over-start", {0, 1}, {0, 0}, {10, 0});
    probe_no_curve(out, "over-end", {10, 1}, {0, 0}, {10, 0});
    probe_no_curve(out, "zero-length", {4, 4}, {4, 4}, {4, 4});
    probe_no_curve(out, "other-side", {5, -3}, {0, 0}, {10, 0});
    probe_no_curve(out, "diagonal", {7, 1}, {1, 2}, {11, 9});
    probe_no_curve(out, "on-the-line", {5, 0}, {10, 0}, {0, 0});

    const Vec2 t0{1, 0}, t1{0, 1};
    probe_curve(out, "quarter", {30, 40}, {0, 0}, 10, t0, t1, 1.0);
    probe_curve(out, "quarter-outside-sector", {30, 40}, {0, 0}, 10, t0, t1, -1.0);
    probe_curve(out, "reflex", {30, -40}, {0, 0}, 10, t0, t1, -1.0);
    probe_curve(out, "at-centre", {0, 0}, {0, 0}, 10, t0, t1, -1.0);
    probe_curve(out, "on-limit", {0, 20}, {0, 0}, 10, t0, t1, 1.0);
    const Vec2 half_c{-4.592425496802574e-15, 0}, half_t0{75, 4.592425496802574e-15},
        half_t1{75, -4.592425496802574e-15};
    probe_curve(out, "half-circle", {3, 74}, half_c, 75, half_t0, half_t1, 6.123233995736766e-17);
    probe_curve(out, "half-circle-behind", {-3, 74}, half_c, 75, half_t0, half_t1, 6.123233995736766e-17);

    probe_segment(out, "two-sided-below", D({50, -4}, {0, 1}, 10, 1, 0.5), probe_wall({0, 0}, {100, 0}, 0, 0.3));
    probe_segment(out, "bias-holds", D({50, -3}, {0.2, 0}, 10, 1, 0.45), probe_wall({0, 0}, {100, 0}, 5, 0.3));
    probe_segment(out, "bias-passes", D({50, -6}, {0, 0}, 10, 1, 0.45), probe_wall({0, 0}, {100, 0}, 5, 0.3));
    probe_segment(out, "negative-bias", D({50, 3}, {0, 0.4}, 10, 1, 0.45), probe_wall({0, 0}, {100, 0}, -5, 0.3));
}

// Many random contacts in blocks, one line per block: values with every
// fraction bit used, so that any change of rounding shows.
void random_probes(ProbeLines& out) {
    SplitMix64 rng(0x9B0BE5);
    const auto point = [&](double span) { return Vec2{rng.uniform(-span, span), rng.uniform(-span, span)}; };
    for (int block = 0; block < 4; ++block) {
        Fnv1a dd, dp, dv, nc, cv, ds;
        for (int i = 0; i < 64; ++i) {
            Disc a = contact_disc(point(20), point(3), rng.uniform(1, 15), rng.uniform(0, 2), rng.uniform(0, 1));
            Disc b = contact_disc(point(20), point(3), rng.uniform(1, 15), rng.uniform(0, 2), rng.uniform(0, 1));
            disc_disc(a, b);
            add_disc(dd, a);
            add_disc(dd, b);

            Disc d = contact_disc(point(20), point(3), rng.uniform(1, 15), 1, rng.uniform(0, 1));
            disc_plane(d, Plane{point(3), rng.uniform(-10, 10), rng.uniform(0, 1), 0, 0});
            add_disc(dp, d);

            Vec2 pos = point(15), vel = point(3);
            disc_vertex(pos, vel, rng.uniform(1, 15), rng.uniform(0, 1), point(5), rng.uniform(0, 1));
            dv.add(pos);
            dv.add(vel);

            add_hit(nc, segment_no_curve(point(30), point(30), point(30)));
            add_hit(cv, segment_curve(point(40), point(5), rng.uniform(5, 30), point(1), point(1),
                                      rng.uniform(-3, 3)));

            Disc e = contact_disc(point(20), point(3), rng.uniform(1, 15), 1, rng.uniform(0, 1));
            Segment s = probe_wall(point(30), point(30), rng.below(3) == 0 ? 0.0 : rng.uniform(-8, 8),
                                   rng.uniform(0, 1));
            disc_segment(e, s);
            add_disc(ds, e);
        }
        const std::string name = "random-block-" + std::to_string(block);
        out.add("disc_disc", name, dd);
        out.add("disc_plane", name, dp);
        out.add("disc_vertex", name, dv);
        out.add("segment_no_curve", name, nc);
        out.add("segment_curve", name, cv);
        out.add("disc_segment", name, ds);
    }
}

TEST(Golden, ContactFunctions) {
    ProbeLines got;
    chosen_probes(got);
    random_probes(got);
    const auto want = recorded("contacts.txt", "contacts: one digest per contact case or block of random cases",
                               got.lines);
    EXPECT_TRUE(same_lines("contacts", want, got.lines));
}

}  // namespace
}  // namespace vexlo
