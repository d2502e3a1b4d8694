#pragma once

// The decoder's tables: for every record kind of the stadium file, its keys
// in field order, what each key's value must be, and where it is stored.
// Only decode.cpp includes this.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records.hpp"

namespace vexlo::stadium::fields {

enum class Want : std::uint8_t {
    Number,      // f64
    OptNumber,   // f64, null = absent
    Index,       // u64, written as a non-negative integer
    String,
    OptString,   // string, null = absent
    Point,       // [x, y]
    OptPoint,    // [x, y], null = absent
    Flags,       // flag names, null = absent
    Traits,      // name -> Props
    Object,      // a record of `kind`
    Array,       // records of `kind`
    Points,      // [[x, y], ...]
    Ball,        // "ballPhysics": a disc reference or Props
    Coordinate,  // one number of a point
    FlagName,    // one string of a flag list
    Any,         // the value of an unknown key, skipped
    // Drawing only: every value is taken, none refused, and a key given
    // again replaces the earlier value (null: absent).
    Size,        // a number, else absent
    Shown,       // "vis": false hides, anything else shows
    Colour,      // a string, else given without a colour
    Backdrop,    // "bg": a record of `kind` when an object, else absent
};

inline bool drawing_only(Want want) { return want >= Want::Size; }

enum class Kind : std::uint8_t { Stadium, Props, Vertex, Segment, Plane, Disc, Goal, PlayerPhysics, Background };

struct Field {
    std::string_view key;
    Want want;
    bool required;
    void* (*locate)(void* record);
    Kind kind = Kind::Stadium;  // Object and Array: the record kind
};

template <class R, auto M>
void* member(void* r) {
    return &(static_cast<R*>(r)->*M);
}

template <class R>
Props* props_of(void* r) {
    return &static_cast<R*>(r)->props;
}

template <class R>
void* append(void* v) {
    return &static_cast<std::vector<R>*>(v)->emplace_back();
}

using S = RawStadium;
constexpr Field STADIUM_FIELDS[] = {
    {"name", Want::OptString, false, member<S, &S::name>},
    {"traits", Want::Traits, false, member<S, &S::traits>},
    {"vertexes", Want::Array, false, member<S, &S::vertexes>, Kind::Vertex},
    {"segments", Want::Array, false, member<S, &S::segments>, Kind::Segment},
    {"planes", Want::Array, false, member<S, &S::planes>, Kind::Plane},
    {"discs", Want::Array, false, member<S, &S::discs>, Kind::Disc},
    {"goals", Want::Array, false, member<S, &S::goals>, Kind::Goal},
    {"spawnDistance", Want::OptNumber, false, member<S, &S::spawn_distance>},
    {"playerPhysics", Want::Object, false, member<S, &S::player_physics>, Kind::PlayerPhysics},
    {"ballPhysics", Want::Ball, false, member<S, &S::ball_physics>},
    {"redSpawnPoints", Want::Points, false, member<S, &S::red_spawn_points>},
    {"blueSpawnPoints", Want::Points, false, member<S, &S::blue_spawn_points>},
    {"width", Want::Size, false, member<S, &S::width>},
    {"height", Want::Size, false, member<S, &S::height>},
    {"bg", Want::Backdrop, false, member<S, &S::background>, Kind::Background},
};

constexpr Field PROPS_FIELDS[] = {
    {"bCoef", Want::OptNumber, false, member<Props, &Props::b_coef>},
    {"cGroup", Want::Flags, false, member<Props, &Props::c_group>},
    {"cMask", Want::Flags, false, member<Props, &Props::c_mask>},
    {"radius", Want::OptNumber, false, member<Props, &Props::radius>},
    {"invMass", Want::OptNumber, false, member<Props, &Props::inv_mass>},
    {"damping", Want::OptNumber, false, member<Props, &Props::damping>},
    {"bias", Want::OptNumber, false, member<Props, &Props::bias>},
    {"curve", Want::OptNumber, false, member<Props, &Props::curve>},
    {"vis", Want::Shown, false, member<Props, &Props::visible>},
    {"color", Want::Colour, false, member<Props, &Props::color>},
};

constexpr Field VERTEX_FIELDS[] = {
    {"x", Want::Number, true, member<RawVertex, &RawVertex::x>},
    {"y", Want::Number, true, member<RawVertex, &RawVertex::y>},
};

constexpr Field SEGMENT_FIELDS[] = {
    {"v0", Want::Index, true, member<RawSegment, &RawSegment::v0>},
    {"v1", Want::Index, true, member<RawSegment, &RawSegment::v1>},
    {"trait", Want::OptString, false, member<RawSegment, &RawSegment::trait>},
};

constexpr Field PLANE_FIELDS[] = {
    {"normal", Want::Point, true, member<RawPlane, &RawPlane::normal>},
    {"dist", Want::Number, true, member<RawPlane, &RawPlane::dist>},
    {"trait", Want::OptString, false, member<RawPlane, &RawPlane::trait>},
};

constexpr Field DISC_FIELDS[] = {
    {"pos", Want::OptPoint, false, member<RawDisc, &RawDisc::pos>},
    {"trait", Want::OptString, false, member<RawDisc, &RawDisc::trait>},
};

constexpr Field GOAL_FIELDS[] = {
    {"p0", Want::Point, true, member<RawGoal, &RawGoal::p0>},
    {"p1", Want::Point, true, member<RawGoal, &RawGoal::p1>},
    {"team", Want::String, true, member<RawGoal, &RawGoal::team>},
};

using PP = RawPlayerPhysics;
constexpr Field PLAYER_FIELDS[] = {
    {"radius", Want::OptNumber, false, member<PP, &PP::radius>},
    {"invMass", Want::OptNumber, false, member<PP, &PP::inv_mass>},
    {"damping", Want::OptNumber, false, member<PP, &PP::damping>},
    {"bCoef", Want::OptNumber, false, member<PP, &PP::b_coef>},
    {"acceleration", Want::OptNumber, false, member<PP, &PP::acceleration>},
    {"kickingAcceleration", Want::OptNumber, false, member<PP, &PP::kicking_acceleration>},
    {"kickingDamping", Want::OptNumber, false, member<PP, &PP::kicking_damping>},
    {"kickStrength", Want::OptNumber, false, member<PP, &PP::kick_strength>},
    {"kickback", Want::OptNumber, false, member<PP, &PP::kickback>},
};

using B = RawBackground;
constexpr Field BACKGROUND_FIELDS[] = {
    {"width", Want::Size, false, member<B, &B::width>},
    {"height", Want::Size, false, member<B, &B::height>},
    {"kickOffRadius", Want::Size, false, member<B, &B::kick_off_radius>},
};

struct RecordType {
    std::string_view expected;            // as messages name it
    std::span<const Field> fields;        // own keys, in field order
    Props* (*inline_props)(void* record);  // the Props keys beside them, if any
    void* (*append)(void* vector);         // a new element at the end of its array
};

// Indexed by Kind.
inline const RecordType RECORDS[] = {
    {"struct RawStadium", STADIUM_FIELDS, nullptr, nullptr},
    {"struct Props", PROPS_FIELDS, nullptr, nullptr},
    {"struct RawVertex", VERTEX_FIELDS, nullptr, append<RawVertex>},
    {"struct RawSegment", SEGMENT_FIELDS, props_of<RawSegment>, append<RawSegment>},
    {"struct RawPlane", PLANE_FIELDS, props_of<RawPlane>, append<RawPlane>},
    {"struct RawDisc", DISC_FIELDS, props_of<RawDisc>, append<RawDisc>},
    {"struct RawGoal", GOAL_FIELDS, nullptr, append<RawGoal>},
    {"struct RawPlayerPhysics", PLAYER_FIELDS, nullptr, nullptr},
    {"struct RawBackground", BACKGROUND_FIELDS, nullptr, nullptr},
};

inline const RecordType& record(Kind k) { return RECORDS[static_cast<std::size_t>(k)]; }

// What a value of each kind should have been, as messages name it.
inline std::string expected_text(Want want, Kind kind) {
    switch (want) {
        case Want::Number:
        case Want::OptNumber:
        case Want::Coordinate: return "f64";
        case Want::Index: return "u64";
        case Want::String:
        case Want::OptString:
        case Want::FlagName: return "a string";
        case Want::Point:
        case Want::OptPoint: return "an array of length 2";
        case Want::Traits: return "a map";
        case Want::Object: return std::string(record(kind).expected);
        case Want::Flags:
        case Want::Array:
        case Want::Points:
        case Want::Ball:
        case Want::Any:
        case Want::Size:
        case Want::Shown:
        case Want::Colour:
        case Want::Backdrop: break;
    }
    return "a sequence";
}

}  // namespace vexlo::stadium::fields
