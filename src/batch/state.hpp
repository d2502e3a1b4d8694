#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "batch/workspace.hpp"
#include "vexlo/batch.hpp"
#include "vexlo/world.hpp"

namespace vexlo {

// What a Batch holds. Fixed after construction except for the contents of
// the worlds.
struct Batch::State {
    std::vector<World> worlds;  // one per environment; N is its length
    std::uint64_t n_players = 0;
    std::uint64_t obs_dim = 0;
    std::uint64_t step_limit = 0;
    std::uint64_t tick_skip = 1;
    std::uint64_t n_red = 0;
    std::uint64_t n_blue = 0;
    std::string stadium_text;  // kept so that a batch can be rebuilt elsewhere
    BatchWorkspace workspace;  // for stepping and prediction; points into worlds[0]
};

// Decimal digits of an unsigned value (sums of two 64-bit sizes included).
std::string decimal(unsigned __int128 v);

// "[4, 2, 3]"
template <class T, int Rank>
std::string shape_text(const StridedView<T, Rank>& a) {
    std::string s = "[";
    for (int i = 0; i < Rank; ++i) {
        if (i > 0) s += ", ";
        s += decimal(static_cast<unsigned __int128>(a.shape[i]));
    }
    return s + "]";
}

inline BatchError invalid(std::string message) {
    return BatchError{BatchError::Kind::InvalidArgument, std::move(message)};
}

}  // namespace vexlo
