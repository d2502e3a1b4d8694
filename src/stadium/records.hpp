#pragma once

// The stadium file as decoded, before traits and defaults are applied.
// Every physical property is either present or absent; coordinates are still
// in the file's frame (y not yet reversed).

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

namespace vexlo::stadium {

// A JSON array of exactly two numbers, x then y, in the file's frame.
struct RawPoint {
    double x = 0.0;
    double y = 0.0;
};

// The shared physical properties: a trait, the object form of "ballPhysics",
// and the inline properties of segments, planes and discs. Flag lists are
// kept as the flag set their names give; an empty list is present with 0.
struct Props {
    std::optional<double> b_coef;
    std::optional<std::int64_t> c_group;
    std::optional<std::int64_t> c_mask;
    std::optional<double> radius;
    std::optional<double> inv_mass;
    std::optional<double> damping;
    std::optional<double> bias;
    std::optional<double> curve;
    // Drawing only, read leniently: any value but null counts as given (and
    // hides the trait's), so a drawing property can never refuse a text.
    // "vis": shown unless exactly `false`. "color": the text when a string.
    std::optional<bool> visible;
    std::optional<std::optional<std::string>> color;

    // Property by property: `own` where present, else `trait`'s (if any).
    // Flag lists are taken whole from one side, never merged.
    static Props over(const Props& own, const Props* trait);
};

struct RawVertex {
    double x = 0.0;
    double y = 0.0;
};

struct RawSegment {
    std::uint64_t v0 = 0;
    std::uint64_t v1 = 0;
    std::optional<std::string> trait;
    Props props;
};

struct RawPlane {
    RawPoint normal;
    double dist = 0.0;
    std::optional<std::string> trait;
    Props props;
};

struct RawDisc {
    std::optional<RawPoint> pos;
    std::optional<std::string> trait;
    Props props;
};

struct RawGoal {
    RawPoint p0;
    RawPoint p1;
    std::string team;
};

// The painted pitch ("bg"); each size is kept only when it is a number.
struct RawBackground {
    std::optional<double> width;
    std::optional<double> height;
    std::optional<double> kick_off_radius;
};

struct RawPlayerPhysics {
    std::optional<double> radius;
    std::optional<double> inv_mass;
    std::optional<double> damping;
    std::optional<double> b_coef;
    std::optional<double> acceleration;
    std::optional<double> kicking_acceleration;
    std::optional<double> kicking_damping;
    std::optional<double> kick_strength;
    std::optional<double> kickback;
};

// "ballPhysics": absent, a disc reference ("disc0"), or properties.
struct BallRef {
    std::string ref;
};
using BallPhysics = std::variant<std::monostate, BallRef, Props>;

struct RawStadium {
    std::optional<std::string> name;
    std::unordered_map<std::string, Props> traits;
    std::vector<RawVertex> vertexes;
    std::vector<RawSegment> segments;
    std::vector<RawPlane> planes;
    std::vector<RawDisc> discs;
    std::vector<RawGoal> goals;
    std::optional<double> spawn_distance;
    RawPlayerPhysics player_physics;
    BallPhysics ball_physics;
    std::vector<RawPoint> red_spawn_points;
    std::vector<RawPoint> blue_spawn_points;
    // Drawing only (a later key replaces an earlier one, any value is taken):
    // the declared half size when a number, and "bg" when an object.
    std::optional<double> width;
    std::optional<double> height;
    std::optional<RawBackground> background;
};

}  // namespace vexlo::stadium
