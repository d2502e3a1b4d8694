#pragma once

// The pieces of the recorded traces that must never change with the compiler
// or the standard library: a pseudo-random generator (SplitMix64) and a hash
// (FNV-1a, 64-bit) fed byte by byte in a fixed order, little end first.

#include <bit>
#include <cstdint>
#include <string>

#include "vexlo/world.hpp"

namespace vexlo::test {

class SplitMix64 {
public:
    explicit SplitMix64(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // 0 to n - 1 (the slight bias of the remainder does not matter here).
    std::int64_t below(std::uint64_t n) { return static_cast<std::int64_t>(next() % n); }
    // A double in [lo, hi) with all 52 fraction bits random.
    double uniform(double lo, double hi) {
        return lo + (hi - lo) * static_cast<double>(next() >> 11) * 0x1.0p-53;
    }

private:
    std::uint64_t state_;
};

class Fnv1a {
public:
    void add(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) {
            hash_ ^= (v >> (8 * i)) & 0xFF;
            hash_ *= 0x100000001B3ULL;
        }
    }
    void add(std::int64_t v) { add(static_cast<std::uint64_t>(v)); }
    void add(bool v) { add(std::uint64_t{v}); }
    // The raw bits: -0.0 and 0.0 differ, and so do NaNs of different payloads.
    void add(double v) { add(std::bit_cast<std::uint64_t>(v)); }
    void add(Vec2 v) {
        add(v.x);
        add(v.y);
    }
    std::uint64_t value() const { return hash_; }
    std::string hex() const {
        static const char digits[] = "0123456789abcdef";
        std::string out(16, '0');
        for (int i = 0; i < 16; ++i) out[15 - i] = digits[(hash_ >> (4 * i)) & 0xF];
        return out;
    }

private:
    std::uint64_t hash_ = 0xCBF29CE484222325ULL;
};

// Everything a tick can change, plus the kick rate settings that scenarios
// change between calls.
inline void add_world(Fnv1a& h, const World& w) {
    for (const Disc& d : w.discs) {
        h.add(d.pos);
        h.add(d.vel);
        h.add(d.c_mask);
    }
    for (std::size_t p = 0; p < w.n_players; ++p) {
        h.add(static_cast<bool>(w.kicking[p]));
        h.add(static_cast<bool>(w.kick_held[p]));
        h.add(w.kick_cooldown[p]);
        h.add(w.kick_credit[p]);
    }
    h.add(w.kick_rate_min);
    h.add(w.kick_rate_cost);
    h.add(w.kick_rate_cap);
    h.add(w.steps);
    h.add(w.kickoff_team);
    h.add(w.goal_timer);
    h.add(static_cast<std::int64_t>(w.red_score));
    h.add(static_cast<std::int64_t>(w.blue_score));
    h.add(static_cast<std::uint64_t>(w.phase));
}

}  // namespace vexlo::test
