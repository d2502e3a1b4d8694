// Construction of a Batch, its sizes and its fixed geometry.
#include <algorithm>
#include <cstdint>
#include <new>
#include <string>
#include <utility>

#include "batch/memory_limit.hpp"
#include "batch/state.hpp"
#include "physics/geometry.hpp"
#include "vexlo/classic.hpp"
#include "vexlo/stadium.hpp"

namespace vexlo {

std::string decimal(unsigned __int128 v) {
    char digits[40];
    char* end = digits + sizeof digits;
    char* at = end;
    do {
        *--at = static_cast<char>('0' + static_cast<int>(v % 10));
        v /= 10;
    } while (v != 0);
    return std::string(at, end);
}

namespace {

constexpr std::uint64_t PAGE = 4096;

// What the allocator takes for a block of `n` bytes: glibc's malloc adds an
// 8-byte header, rounds up to 16 bytes and hands out at least 32; from 128 KiB
// on it maps whole pages. An empty array allocates nothing.
std::uint64_t heap_block(std::uint64_t n) {
    if (n == 0) return 0;
    if (n >= 128 * 1024) return (n + 16 + PAGE - 1) / PAGE * PAGE;
    return std::max<std::uint64_t>(32, (n + 8 + 15) / 16 * 16);
}

template <class T>
std::uint64_t heap_array(const std::vector<T>& v) {
    return heap_block(v.size() * sizeof(T));
}

// std::vector<bool> allocates whole 64-bit words.
std::uint64_t heap_array(const std::vector<bool>& v) { return heap_block((v.size() + 63) / 64 * 8); }

// Bytes one copy of a World adds to a batch: its entry in the batch's array
// and the heap blocks of its own arrays (a copy allocates exactly their sizes).
std::uint64_t world_bytes(const World& w) {
    return sizeof(World) + heap_array(w.discs) + heap_array(w.segments) + heap_array(w.planes) +
           heap_array(w.goals) + heap_array(w.kicking) + heap_array(w.kick_held) +
           heap_array(w.kick_cooldown) + heap_array(w.kick_credit) +
           heap_array(w.red_spawn_points) + heap_array(w.blue_spawn_points);
}

// Refuses, before anything is copied, a batch that does not fit in the
// memory the process can still use: otherwise it would only fail once its
// pages are touched, and then the kernel kills the whole process.
BatchStatus check_memory(const World& templ, const BatchSizes& d) {
    // The batch's array is a mapping of whole pages too.
    const unsigned __int128 needed =
        static_cast<unsigned __int128>(d.n_envs) * world_bytes(templ) + PAGE;
    // A sixteenth is left over: the kernel reclaims memory before it runs
    // out, and the caller allocates around the batch (arrays of its state).
    const std::uint64_t headroom = memory::current_memory_headroom();
    const std::uint64_t available = headroom - headroom / 16;
    if (needed <= available) return std::nullopt;
    return BatchError{BatchError::Kind::OutOfMemory,
                      "a batch of " + decimal(d.n_envs) + " environments needs " +
                          decimal(needed) + " bytes, but only " + decimal(available) +
                          " are available"};
}

}  // namespace

// n_envs deep copies of the template. Throws std::bad_alloc if the batch
// cannot be held; nothing survives a failure.
struct BatchBuilder {
    static BatchOrError build(std::string_view text, WorldOrError built, const BatchSizes& d,
                              BatchError::Kind build_error, std::string_view build_prefix) {
        if (std::string* error = std::get_if<std::string>(&built))
            return BatchError{build_error, std::string(build_prefix) + *error};
        const World& templ = std::get<World>(built);
        if (BatchStatus refused = check_memory(templ, d)) return std::move(*refused);
        auto state = std::make_unique<Batch::State>();
        if (d.n_envs > state->worlds.max_size()) throw std::bad_alloc();
        state->worlds.reserve(static_cast<std::size_t>(d.n_envs));
        for (std::uint64_t e = 0; e < d.n_envs; ++e) state->worlds.push_back(templ);
        state->n_players = d.n_red + d.n_blue;
        state->obs_dim = 4 * state->n_players + 8;
        state->step_limit = d.step_limit;
        state->tick_skip = std::max<std::uint64_t>(d.tick_skip, 1);
        state->n_red = d.n_red;
        state->n_blue = d.n_blue;
        state->stadium_text = std::string(text);
        return BatchOrError(std::in_place_type<Batch>, Batch(std::move(state)));
    }
};

// The team sizes are summed exactly, so no pair whose true sum is above the
// limit slips through by wrapping around.
BatchStatus Batch::check_sizes(const BatchSizes& d) {
    if (d.n_envs == 0) return invalid("n_envs must be >= 1");
    const unsigned __int128 players = static_cast<unsigned __int128>(d.n_red) + d.n_blue;
    if (players == 0) return invalid("n_red + n_blue must be >= 1");
    if (players > MAX_PLAYERS)
        return invalid("n_red + n_blue = " + decimal(players) + " exceeds the max of " +
                       decimal(MAX_PLAYERS) + " players");
    return std::nullopt;
}

BatchOrError Batch::from_stadium(std::string_view vxs, const BatchSizes& sizes) {
    if (BatchStatus refused = check_sizes(sizes)) return std::move(*refused);
    return BatchBuilder::build(vxs, world_from_vxs(vxs, sizes.n_red, sizes.n_blue), sizes,
                               BatchError::Kind::InvalidArgument, "");
}

BatchOrError Batch::classic(const BatchSizes& sizes) {
    if (BatchStatus refused = check_sizes(sizes)) return std::move(*refused);
    // The built-in text always builds; a failure is an internal fault.
    return BatchBuilder::build(CLASSIC_STADIUM,
                               world_from_vxs(CLASSIC_STADIUM, sizes.n_red, sizes.n_blue), sizes,
                               BatchError::Kind::Internal, "bundled classic.vxs is valid: ");
}

Batch::Batch(std::unique_ptr<State> state) : s_(std::move(state)) {}
Batch::Batch(Batch&&) noexcept = default;
Batch::~Batch() = default;

std::size_t Batch::n_envs() const { return s_->worlds.size(); }
std::size_t Batch::n_players() const { return static_cast<std::size_t>(s_->n_players); }
std::uint64_t Batch::obs_dim() const { return s_->obs_dim; }
std::uint64_t Batch::step_limit() const { return s_->step_limit; }
std::uint64_t Batch::tick_skip() const { return s_->tick_skip; }
std::uint64_t Batch::n_red() const { return s_->n_red; }
std::uint64_t Batch::n_blue() const { return s_->n_blue; }
std::string_view Batch::stadium_text() const { return s_->stadium_text; }
double Batch::player_max_speed() const { return vexlo::player_max_speed(s_->worlds[0].player(0)); }
const World& Batch::world(std::size_t e) const { return s_->worlds.at(e); }

void Batch::teams(std::int64_t* out) const {
    for (const World& w : s_->worlds) {
        for (std::size_t p = 0; p < s_->n_players; ++p) *out++ = w.player(p).team;
    }
}

const std::vector<Goal>& Batch::goals() const { return s_->worlds[0].goals; }

std::vector<std::array<double, 4>> Batch::wall_segments() const {
    return vexlo::wall_segments(s_->worlds[0]);
}

std::vector<std::array<double, 3>> Batch::obstacle_discs() const {
    return vexlo::obstacle_discs(s_->worlds[0]);
}

}  // namespace vexlo
