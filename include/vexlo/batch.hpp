#pragma once

// A batch of matches on one stadium, stepped, read and placed as a whole,
// spread over the process-wide worker pool. Plain C++ over plain arrays: the
// Python module is one caller, a C++ program another.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>
#include <vector>

#include "vexlo/vec2.hpp"
#include "vexlo/world.hpp"

namespace vexlo {

// The most threads set_worker_count accepts.
inline constexpr std::size_t MAX_WORKERS = 1024;

// Threads taking part in every batch call (the calling thread included):
// `n` (at most MAX_WORKERS; more count as that), or one per processor this
// process may run on when n is 0 (the default). Takes effect at the next
// call; results do not depend on it. All batches share these threads.
void set_worker_count(std::size_t n);
// The count in effect now (made if the pool did not exist yet).
std::size_t worker_count();

// Elements of type T laid out with arbitrary byte strides, read in place
// (a NumPy array, say, passed without copying). Elements need no alignment.
template <class T, int Rank>
struct StridedView {
    static_assert(std::is_trivially_copyable_v<T>);
    const void* data = nullptr;
    std::array<std::ptrdiff_t, Rank> shape{};
    std::array<std::ptrdiff_t, Rank> strides{};  // in bytes

    // A dense row-major array.
    static StridedView dense(const T* data, std::array<std::ptrdiff_t, Rank> shape) {
        StridedView v{data, shape, {}};
        std::ptrdiff_t stride = sizeof(T);
        for (int i = Rank - 1; i >= 0; --i) {
            v.strides[i] = stride;
            stride *= shape[i];
        }
        return v;
    }

    template <class... Index>
    T operator()(Index... index) const {
        static_assert(sizeof...(Index) == Rank);
        std::ptrdiff_t at = 0;
        int i = 0;
        ((at += static_cast<std::ptrdiff_t>(index) * strides[i++]), ...);
        T value;
        std::memcpy(&value, static_cast<const char*>(data) + at, sizeof(T));
        return value;
    }
};

// Why a call refused its arguments, in words meant for the caller; nothing
// was changed when a call refuses.
struct BatchError {
    enum class Kind {
        InvalidArgument,  // sizes, shapes, a stadium text that does not build
        OutOfMemory,      // the batch would not fit in the memory still available
        Internal,         // the built-in stadium failed to build: a fault of this library
    };
    Kind kind;
    std::string message;
};

// Where a refused call put its reason; empty (and free) on success.
using BatchStatus = std::optional<BatchError>;

// A non-owning reference to "should the work stop now?", asked between
// chunks of a long call. Any callable returning bool; it must outlive the
// call it is passed to. The default never stops.
class StopCheck {
public:
    StopCheck() = default;
    template <class F>
        requires(!std::is_same_v<std::remove_cvref_t<F>, StopCheck>)
    StopCheck(F& f)
        : fn_([](void* c) { return static_cast<bool>((*static_cast<F*>(c))()); }), context_(&f) {}
    bool operator()() const { return fn_ != nullptr && fn_(context_); }

private:
    bool (*fn_)(void*) = nullptr;
    void* context_ = nullptr;
};

struct BatchSizes {
    std::uint64_t n_envs = 0;
    std::uint64_t n_red = 0;
    std::uint64_t n_blue = 0;
    std::uint64_t step_limit = 2400;
    std::uint64_t tick_skip = 8;  // 0 counts as 1
};

// The rows a snapshot fills, each dense and row-major.
struct BatchSnapshot {
    double* ball_pos;    // (N, 2)
    double* ball_vel;    // (N, 2)
    double* player_pos;  // (N, P, 2)
    double* player_vel;  // (N, P, 2)
    std::int64_t* steps; // (N,)
};

// The state set_state places into every environment.
struct BatchPlacement {
    StridedView<double, 2> ball_pos;    // (N, 2)
    StridedView<double, 2> ball_vel;    // (N, 2)
    StridedView<double, 3> player_pos;  // (N, P, 2)
    StridedView<double, 3> player_vel;  // (N, P, 2)
    std::optional<StridedView<std::int64_t, 1>> steps;  // (N,); without it, 0
};

// Positions and velocities an observation is made of, read in place (a
// state handed out by snapshot, or any other).
struct BatchStateView {
    StridedView<double, 2> ball_pos;    // (N, 2)
    StridedView<double, 2> ball_vel;    // (N, 2)
    StridedView<double, 3> player_pos;  // (N, P, 2)
    StridedView<double, 3> player_vel;  // (N, P, 2)
};

// One team's frame of reference as the Python layer's views keep it: every
// (x, y) is the complex number x + iy, a position maps to z * pos_mul -
// pos_off and a velocity to z * vel_mul (complex products by real factors
// held as complex numbers), and a mirroring frame conjugates each result.
struct TeamFrame {
    std::vector<std::uint64_t> slots;  // player slots in view order, the viewer first
    double pos_mul = 1.0;
    double vel_mul = 1.0;
    Vec2 pos_off{};   // (re, im) before the conjugation
    Vec2 opp_goal{};  // the opponent goal centre already mapped, before the conjugation
    bool mirror = false;
};

// Which environments a call touches: the nonzero entries of an (N,) mask;
// none means every environment.
using EnvMask = std::optional<StridedView<std::uint8_t, 1>>;

class Batch;
using BlobOrError = std::variant<std::vector<std::uint8_t>, BatchError>;
using BatchOrError = std::variant<Batch, BatchError>;

class Batch {
public:
    // The checks of the sizes alone, as the constructors make them first.
    static BatchStatus check_sizes(const BatchSizes& sizes);
    // n_envs copies of the stadium of `vxs` (a stadium's JSON text), or of
    // the built-in Classic stadium.
    static BatchOrError from_stadium(std::string_view vxs, const BatchSizes& sizes);
    static BatchOrError classic(const BatchSizes& sizes);

    // A batch moved from may only be destroyed.
    Batch(Batch&&) noexcept;
    Batch& operator=(Batch&&) = delete;
    ~Batch();

    std::size_t n_envs() const;
    std::size_t n_players() const;
    std::uint64_t obs_dim() const;
    std::uint64_t step_limit() const;
    std::uint64_t tick_skip() const;
    std::uint64_t n_red() const;
    std::uint64_t n_blue() const;
    // The stadium's JSON text the batch was built from (the built-in Classic
    // text for classic()).
    std::string_view stadium_text() const;
    double player_max_speed() const;
    const World& world(std::size_t e) const;

    // out: (N, P), the team of each player slot.
    void teams(std::int64_t* out) const;

    // tick_skip ticks of every environment with actions (N, P, 3) = (dx, dy,
    // kick); an environment stops at its first goal. scored (N,) receives -1,
    // or the conceding team.
    BatchStatus step(StridedView<std::int64_t, 3> actions, std::int8_t* scored);
    // n_steps ticks of every environment in chunks, every slot pressing
    // (1, 1) and kick, slot 0 releasing the kick every second tick; goals are
    // ignored. Between chunks (worlds whole) it asks `stop`; false if it did.
    bool rollout(std::uint64_t n_steps, StopCheck stop = {});

    void reset_all();
    BatchStatus reset_mask(StridedView<std::uint8_t, 1> mask);  // nonzero: reset

    void snapshot(const BatchSnapshot& out) const;
    BatchStatus set_state(const BatchPlacement& state);
    // Environment 0's kick flag and cooldown per player: (P,) each.
    void kick_state(std::int64_t* flags, std::int64_t* cooldowns) const;
    void set_kick_rate_limit(std::int64_t min, std::int64_t cost, std::int64_t cap);
    void set_player_cmask(std::int64_t mask);

    // Every changing field of the selected environments as a state blob (the
    // layout is in README.md): what the tick reads beyond the stadium and the
    // team sizes. load_state writes one back into the selected environments
    // of a batch of an equal stadium and team sizes; it checks the whole blob
    // first and refuses, changing nothing, what is damaged or does not fit.
    BlobOrError save_state(const EnvMask& mask = std::nullopt) const;
    // The same blob written into memory of the caller's: `allocate(size)`
    // returns `size` writable bytes, or null to give up (the call then
    // returns an OutOfMemory error). Saves a copy of large blobs.
    template <class Allocate>
    BatchStatus save_state_into(Allocate& allocate, const EnvMask& mask = std::nullopt) const {
        auto fn = [](void* c, std::size_t n) -> std::uint8_t* {
            return (*static_cast<Allocate*>(c))(n);
        };
        return save_state_with(fn, &allocate, mask);
    }
    BatchStatus load_state(std::span<const std::uint8_t> blob, const EnvMask& mask = std::nullopt);
    // out (N,): a 64-bit hash of each environment's changing state (doubles
    // by their bits), the same on every machine and worker count. Not
    // cryptographic: it detects differences, not tampering.
    void digest(std::uint64_t* out) const;
    // A 64-bit hash of what the stadium and the team sizes fix; blobs carry it.
    std::uint64_t fingerprint() const;

    // Every environment's ball position after each offset in ticks if no
    // player touches it: out (N, K, 2). A long prediction runs in spans and
    // asks `stop` between them; false if it did (out is then incomplete).
    bool predict(std::vector<std::uint64_t> offsets, double* out, StopCheck stop = {}) const;

    // Entries of a team observation row: 4 per slot, 8, and 2 per offset.
    static constexpr std::size_t team_observation_width(std::size_t n_slots, std::size_t n_offsets) {
        return 4 * n_slots + 8 + 2 * n_offsets;
    }
    // The default team observation of `state` in `frame`, float32 rows of
    // team_observation_width into out (N, width), dense: ball position and
    // velocity, position and velocity of each slot, ball minus the viewer,
    // opponent goal minus ball, then this batch's own ball after each offset
    // (as predict). Every value is rounded once, from the complex128
    // arithmetic of the NumPy builder it replaces, so the bits are the same.
    // `finished` is false when `stop` cut the prediction short.
    BatchStatus team_observation(const BatchStateView& state, const TeamFrame& frame,
                                 std::vector<std::uint64_t> offsets, float* out, bool& finished,
                                 StopCheck stop = {}) const;

    // A training step in one pass over the worlds: step (as step), restart
    // the environments under `restart` (as reset_mask), then write the
    // resulting state into `state` (as snapshot) and each frame's observation
    // of it into `obs` (F, N, width) (as team_observation with that state,
    // one ball prediction serving every frame), each group of worlds while it
    // is still in the cache. The frames must list equally many slots. The
    // same bits as those calls one after the other. `finished` is false when
    // `stop` cut a long prediction short: the step and the restarts have
    // happened, `obs` is incomplete.
    BatchStatus step_observe(StridedView<std::int64_t, 3> actions, const EnvMask& restart,
                             std::span<const TeamFrame> frames, std::vector<std::uint64_t> offsets,
                             std::int8_t* scored, const BatchSnapshot& state, float* obs,
                             bool& finished, StopCheck stop = {});

    // One team's action digits as engine inputs. digits (N, 3k) hold (dx, dy,
    // kick) for each of the team's k slots in `slots` order: dx and dy in
    // 0..2 (for -1, 0, +1; dx read as +1, 0, -1 when `mirror`), kick in 0..1
    // (pressed gives `kick_value`, 1 or 2). Every digit is checked first:
    // only if all are in range are the rows out[e, slots[i]] of out (N, P, 3),
    // dense, written (the other slots' rows are left as they are) and
    // `wrote` set.
    BatchStatus team_inputs(StridedView<std::int64_t, 2> digits,
                            std::span<const std::uint64_t> slots, bool mirror,
                            std::int64_t kick_value, std::int64_t* out, bool& wrote) const;

    // The stadium's fixed geometry (the same in every environment).
    const std::vector<Goal>& goals() const;
    std::vector<std::array<double, 4>> wall_segments() const;  // x0, y0, x1, y1
    std::vector<std::array<double, 3>> obstacle_discs() const; // x, y, radius

    // What a batch holds; defined only inside the library.
    struct State;

private:
    BatchStatus save_state_with(std::uint8_t* (*allocate)(void*, std::size_t), void* context,
                                const EnvMask& mask) const;
    explicit Batch(std::unique_ptr<State> state);
    friend struct BatchBuilder;
    std::unique_ptr<State> s_;
};

}  // namespace vexlo
