// physics_step, reset_all, reset_mask and rollout_bench.
#include <algorithm>
#include <array>
#include <string>

#include "args.hpp"
#include "numpy_api.hpp"
#include "physics/lane_tick.hpp"
#include "pool.hpp"
#include "py_ref.hpp"
#include "vecenv.hpp"

namespace vexlo::py {
namespace {

constexpr std::int8_t NO_GOAL = -1;

// The environments of a batch are copies of one template, and no operation
// changes their geometry or their discs' fixed properties afterwards.
constexpr bool UNIFORM = true;

// Environments go to the engine in groups of lane_width(), which steps a
// whole group per instruction where the processor allows; the pool hands out
// groups. Each environment reads its own (P, 3) slice of the actions through
// the array's strides.
struct StepTask {
    World* worlds;
    std::size_t n_envs;
    const ArrayArg* actions;
    std::int8_t* scored;
    std::size_t n_players;
    std::uint64_t tick_skip;
    std::size_t width;
    LaneWorkspace* workspace;

    void operator()(std::size_t participant, std::size_t group_begin,
                    std::size_t group_end) const noexcept {
        const ArrayArg& a = *actions;
        for (std::size_t g = group_begin; g < group_end; ++g) {
            const std::size_t first = g * width;
            const std::size_t count = std::min(width, n_envs - first);
            std::array<std::array<PlayerInput, MAX_PLAYERS>, MAX_LANES> inputs{};
            std::array<World*, MAX_LANES> group{};
            std::array<const PlayerInput*, MAX_LANES> per_env{};
            for (std::size_t l = 0; l < count; ++l) {
                const std::size_t e = first + l;
                for (std::size_t p = 0; p < n_players; ++p) {
                    const std::ptrdiff_t at = static_cast<std::ptrdiff_t>(e) * a.strides[0] +
                                              static_cast<std::ptrdiff_t>(p) * a.strides[1];
                    inputs[l][p].dx = a.read<std::int64_t>(at);
                    inputs[l][p].dy = a.read<std::int64_t>(at + a.strides[2]);
                    inputs[l][p].kick = a.read<std::int64_t>(at + 2 * a.strides[2]);
                }
                group[l] = &worlds[e];
                per_env[l] = inputs[l].data();
            }
            step_lanes(LaneRun{group.data(), count, per_env.data(), per_env.data(), tick_skip,
                               true, scored + first, UNIFORM, workspace, participant});
        }
    }
};

struct ResetMaskTask {
    World* worlds;
    const ArrayArg* mask;

    void operator()(std::size_t begin, std::size_t end) const noexcept {
        for (std::size_t e = begin; e < end; ++e) {
            const auto selected =
                mask->read<npy_bool>(static_cast<std::ptrdiff_t>(e) * mask->strides[0]);
            if (selected) restart_match(worlds[e]);
        }
    }
};

// Every slot presses (1, 1) and kick; slot 0 releases the kick on every
// second tick so that it keeps re-arming. Goals are ignored.
struct BenchTask {
    World* worlds;
    std::size_t n_envs;
    std::uint64_t n_steps;
    std::size_t width;
    LaneWorkspace* workspace;

    void operator()(std::size_t participant, std::size_t group_begin,
                    std::size_t group_end) const noexcept {
        std::array<PlayerInput, MAX_PLAYERS> pressed;
        pressed.fill(PlayerInput{1, 1, 1});
        std::array<PlayerInput, MAX_PLAYERS> released = pressed;
        released[0].kick = 0;
        std::array<const PlayerInput*, MAX_LANES> odd, even;
        odd.fill(pressed.data());
        even.fill(released.data());
        std::array<std::int8_t, MAX_LANES> ignored;
        for (std::size_t g = group_begin; g < group_end; ++g) {
            const std::size_t first = g * width;
            const std::size_t count = std::min(width, n_envs - first);
            std::array<World*, MAX_LANES> group{};
            for (std::size_t l = 0; l < count; ++l) group[l] = &worlds[first + l];
            step_lanes(LaneRun{group.data(), count, odd.data(), even.data(), n_steps, false,
                               ignored.data(), UNIFORM, workspace, participant});
        }
    }
};

// N * n_steps as a Python int, exact beyond 64 bits.
Ref ticks_in_all(std::size_t n, std::uint64_t n_steps) {
    Ref n_obj(PyLong_FromSize_t(n));
    Ref steps_obj(PyLong_FromUnsignedLongLong(n_steps));
    if (!n_obj || !steps_obj) return Ref();
    return Ref(PyNumber_Multiply(n_obj.get(), steps_obj.get()));
}

// rollout_bench looks for a pending signal (Ctrl-C) after about this many
// ticks in all: a small fraction of a second at the usual rates, and rare
// enough that the look costs nothing measurable.
constexpr std::uint64_t TICKS_BETWEEN_SIGNAL_CHECKS = std::uint64_t{1} << 22;

// Steps of one chunk of rollout_bench for n environments: an even number,
// so that every chunk starts on an odd tick, as the whole run does, and the
// inputs alternate across chunk boundaries exactly as within a chunk.
std::uint64_t bench_chunk_steps(std::size_t n) {
    return std::max<std::uint64_t>(2, TICKS_BETWEEN_SIGNAL_CHECKS / n) & ~std::uint64_t{1};
}

const char* const STEP_PARAMS[] = {"actions"};
const Signature STEP_SIGNATURE{"physics_step", STEP_PARAMS, 1, 1};
const char* const MASK_PARAMS[] = {"mask"};
const Signature MASK_SIGNATURE{"reset_mask", MASK_PARAMS, 1, 1};
const char* const BENCH_PARAMS[] = {"n_steps"};
const Signature BENCH_SIGNATURE{"rollout_bench", BENCH_PARAMS, 1, 1};

}  // namespace

PyObject* vecenv_physics_step(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames) {
    PyObject* objs[1];
    if (!bind(STEP_SIGNATURE, args, nargs, kwnames, objs)) return nullptr;
    VecEnvObject* env = as_vecenv(self);
    ExclusiveBorrow borrow(env->borrow);
    if (!borrow) return nullptr;
    ArrayArg actions;
    if (!to_array(objs[0], "actions", NPY_INT64, 3, actions)) return nullptr;
    Batch& b = env->batch;
    const std::size_t n = b.worlds.size();
    if (static_cast<std::size_t>(actions.shape[0]) != n ||
        static_cast<std::uint64_t>(actions.shape[1]) != b.n_players || actions.shape[2] != 3) {
        const std::string message = "physics_step: actions shape " + shape_text(actions) +
                                    " != expected (n_envs=" + decimal(n) +
                                    ", n_players=" + decimal(b.n_players) + ", 3)";
        PyErr_SetString(PyExc_ValueError, message.c_str());
        return nullptr;
    }
    npy_intp dims[1] = {static_cast<npy_intp>(n)};
    Ref scored(PyArray_SimpleNew(1, dims, NPY_INT8));
    if (!scored) return nullptr;
    auto* out = static_cast<std::int8_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(scored.get())));
    for (std::size_t e = 0; e < n; ++e) out[e] = NO_GOAL;
    const std::size_t width = lane_width();
    WorkspaceLease workspace(b.workspace, b.worlds[0], pool::participants());
    StepTask task{b.worlds.data(), n, &actions, out, static_cast<std::size_t>(b.n_players),
                  b.tick_skip, width, workspace.get()};
    pool::parallel_for(pool::group_count(n, width), task);
    return scored.release();
}

PyObject* vecenv_reset_all(PyObject* self) {
    VecEnvObject* env = as_vecenv(self);
    ExclusiveBorrow borrow(env->borrow);
    if (!borrow) return nullptr;
    for (World& w : env->batch.worlds) restart_match(w);
    Py_RETURN_NONE;
}

PyObject* vecenv_reset_mask(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames) {
    PyObject* objs[1];
    if (!bind(MASK_SIGNATURE, args, nargs, kwnames, objs)) return nullptr;
    VecEnvObject* env = as_vecenv(self);
    ExclusiveBorrow borrow(env->borrow);
    if (!borrow) return nullptr;
    ArrayArg mask;
    if (!to_array(objs[0], "mask", NPY_BOOL, 1, mask)) return nullptr;
    Batch& b = env->batch;
    const std::size_t n = b.worlds.size();
    if (static_cast<std::size_t>(mask.shape[0]) != n) {
        const std::string message = "reset_mask: mask length " + decimal(mask.shape[0]) +
                                    " != n_envs " + decimal(n);
        PyErr_SetString(PyExc_ValueError, message.c_str());
        return nullptr;
    }
    ResetMaskTask task{b.worlds.data(), &mask};
    pool::parallel_for(n, task);
    Py_RETURN_NONE;
}

PyObject* vecenv_rollout_bench(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames) {
    PyObject* objs[1];
    if (!bind(BENCH_SIGNATURE, args, nargs, kwnames, objs)) return nullptr;
    VecEnvObject* env = as_vecenv(self);
    ExclusiveBorrow borrow(env->borrow);
    if (!borrow) return nullptr;
    std::uint64_t n_steps = 0;
    if (!to_u64(objs[0], "n_steps", n_steps)) return nullptr;
    Batch& b = env->batch;
    const std::size_t n = b.worlds.size();
    // The result is made up front, exactly (N * n_steps may pass 64 bits), so
    // that nothing can fail once the ticks have run.
    Ref total = ticks_in_all(n, n_steps);
    if (!total) return nullptr;
    if (n_steps == 0) return total.release();
    // Made now, while errors can still be raised: the pool and the workspace.
    WorkspaceLease workspace(b.workspace, b.worlds[0], pool::participants());
    const std::size_t width = lane_width();
    const std::uint64_t chunk = bench_chunk_steps(n);
    // Held as a plain pointer while the lock is away: if the interpreter ends
    // this thread there (at exit, a daemon thread), the unwind must not drop
    // references without the lock. The result is then simply not freed.
    PyObject* result = total.release();
    for (std::uint64_t done = 0; done < n_steps;) {
        BenchTask task{b.worlds.data(), n, std::min(chunk, n_steps - done), width, workspace.get()};
        Py_BEGIN_ALLOW_THREADS
        pool::parallel_for(pool::group_count(n, width), task);
        Py_END_ALLOW_THREADS
        done += task.n_steps;
        // The worlds are whole between chunks: an interrupted call leaves
        // them some ticks further on, as usable as after any step.
        if (done < n_steps && PyErr_CheckSignals() < 0) {
            Py_DECREF(result);
            return nullptr;
        }
    }
    return result;
}

}  // namespace vexlo::py
