// Construction of a VecEnv, its properties and teams().
#include <unistd.h>

#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <string_view>
#include <utility>

#include "args.hpp"
#include "numpy_api.hpp"
#include "py_ref.hpp"
#include "stadium/build.hpp"
#include "stadium/classic.hpp"
#include "vecenv.hpp"

namespace vexlo::py {
namespace {

constexpr std::uint64_t DEFAULT_STEP_LIMIT = 2400;
constexpr std::uint64_t DEFAULT_TICK_SKIP = 8;

// The converted size arguments shared by both ways of construction.
struct Dimensions {
    std::uint64_t n_envs = 0;
    std::uint64_t n_red = 0;
    std::uint64_t n_blue = 0;
    std::uint64_t step_limit = DEFAULT_STEP_LIMIT;
    std::uint64_t tick_skip = DEFAULT_TICK_SKIP;
};

// Converts the five size arguments in order; omitted ones keep their defaults.
bool convert_dimensions(PyObject* const* objs, Dimensions& d) {
    if (!to_u64(objs[0], "n_envs", d.n_envs)) return false;
    if (!to_u64(objs[1], "n_red", d.n_red)) return false;
    if (!to_u64(objs[2], "n_blue", d.n_blue)) return false;
    if (objs[3] != nullptr && !to_u64(objs[3], "step_limit", d.step_limit)) return false;
    if (objs[4] != nullptr && !to_u64(objs[4], "tick_skip", d.tick_skip)) return false;
    if (d.tick_skip == 0) d.tick_skip = 1;
    return true;
}

// The team sizes are summed exactly, so no pair whose true sum is above the
// limit slips through by wrapping around.
bool check_dimensions(const Dimensions& d) {
    if (d.n_envs == 0) {
        PyErr_SetString(PyExc_ValueError, "n_envs must be >= 1");
        return false;
    }
    const unsigned __int128 players = static_cast<unsigned __int128>(d.n_red) + d.n_blue;
    if (players == 0) {
        PyErr_SetString(PyExc_ValueError, "n_red + n_blue must be >= 1");
        return false;
    }
    if (players > MAX_PLAYERS) {
        const std::string message = "n_red + n_blue = " + decimal(players) +
                                    " exceeds the max of " + decimal(MAX_PLAYERS) +
                                    " players";
        PyErr_SetString(PyExc_ValueError, message.c_str());
        return false;
    }
    return true;
}

// Bytes one copy of a World takes, its arrays included.
std::uint64_t world_bytes(const World& w) {
    return sizeof(World) + w.discs.size() * sizeof(Disc) + w.segments.size() * sizeof(Segment) +
           w.planes.size() * sizeof(Plane) + w.goals.size() * sizeof(Goal) +
           (w.kicking.size() + w.kick_held.size()) / 8 +
           (w.kick_cooldown.size() + w.kick_credit.size()) * sizeof(std::int64_t) +
           (w.red_spawn_points.size() + w.blue_spawn_points.size()) * sizeof(Vec2);
}

// The machine's physical memory. The kernel promises far more than that, and
// a batch that only fails once the memory is really used would take the
// whole process down instead of raising MemoryError.
std::uint64_t physical_memory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

// n_envs deep copies of the template. Throws std::bad_alloc if the batch
// cannot be held; nothing survives a failure.
Batch make_batch(const World& templ, const Dimensions& d) {
    Batch batch;
    if (d.n_envs > batch.worlds.max_size() || d.n_envs > physical_memory() / world_bytes(templ))
        throw std::bad_alloc();
    batch.worlds.reserve(static_cast<std::size_t>(d.n_envs));
    for (std::uint64_t e = 0; e < d.n_envs; ++e) batch.worlds.push_back(templ);
    batch.n_players = d.n_red + d.n_blue;
    batch.obs_dim = 4 * batch.n_players + 8;
    batch.step_limit = d.step_limit;
    batch.tick_skip = d.tick_skip;
    return batch;
}

// Wraps a finished batch in a new Python object. If the object cannot be
// allocated, the batch is released with the caller's copy.
PyObject* wrap_batch(PyTypeObject* type, Batch&& batch) {
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    VecEnvObject* env = as_vecenv(self);
    new (&env->borrow) BorrowFlag();
    new (&env->batch) Batch(std::move(batch));
    return self;
}

const char* const NEW_PARAMS[] = {"n_envs", "n_red", "n_blue", "step_limit", "tick_skip"};
const Signature NEW_SIGNATURE{"VecEnv", NEW_PARAMS, 5, 3};

const char* const FROM_VXS_PARAMS[] = {"vxs",    "n_envs",     "n_red",
                                       "n_blue", "step_limit", "tick_skip"};
const Signature FROM_VXS_SIGNATURE{"from_vxs", FROM_VXS_PARAMS, 6, 4};

}  // namespace

PyObject* vecenv_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* objs[5];
    if (!bind(NEW_SIGNATURE, args, kwargs, objs)) return nullptr;
    Dimensions d;
    if (!convert_dimensions(objs, d) || !check_dimensions(d)) return nullptr;
    WorldOrError built = world_from_vxs(CLASSIC_STADIUM, d.n_red, d.n_blue);
    if (const std::string* error = std::get_if<std::string>(&built)) {
        // The built-in text always builds; reaching this is an internal fault.
        const std::string message = "bundled classic.vxs is valid: " + *error;
        PyErr_SetString(PyExc_RuntimeError, message.c_str());
        return nullptr;
    }
    return wrap_batch(type, make_batch(*std::get_if<World>(&built), d));
}

PyObject* vecenv_from_vxs(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* objs[6];
    if (!bind(FROM_VXS_SIGNATURE, args, nargs, kwnames, objs)) return nullptr;
    if (!PyUnicode_Check(objs[0])) {
        PyErr_Format(PyExc_TypeError, "argument 'vxs': expected str, got '%s'",
                     Py_TYPE(objs[0])->tp_name);
        return nullptr;
    }
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(objs[0], &length);
    if (utf8 == nullptr) return nullptr;
    Dimensions d;
    if (!convert_dimensions(objs + 1, d) || !check_dimensions(d)) return nullptr;
    WorldOrError built =
        world_from_vxs(std::string_view(utf8, static_cast<std::size_t>(length)), d.n_red, d.n_blue);
    if (const std::string* error = std::get_if<std::string>(&built)) {
        PyErr_SetString(PyExc_ValueError, error->c_str());
        return nullptr;
    }
    return wrap_batch(&VecEnvType, make_batch(*std::get_if<World>(&built), d));
}

PyObject* vecenv_n_envs(PyObject* self) {
    VecEnvObject* env = as_vecenv(self);
    SharedBorrow borrow(env->borrow);
    if (!borrow) return nullptr;
    return PyLong_FromSize_t(env->batch.worlds.size());
}

PyObject* vecenv_n_players(PyObject* self) {
    VecEnvObject* env = as_vecenv(self);
    SharedBorrow borrow(env->borrow);
    if (!borrow) return nullptr;
    return PyLong_FromUnsignedLongLong(env->batch.n_players);
}

PyObject* vecenv_obs_dim(PyObject* self) {
    VecEnvObject* env = as_vecenv(self);
    SharedBorrow borrow(env->borrow);
    if (!borrow) return nullptr;
    return PyLong_FromUnsignedLongLong(env->batch.obs_dim);
}

PyObject* vecenv_player_max_speed(PyObject* self) {
    VecEnvObject* env = as_vecenv(self);
    SharedBorrow borrow(env->borrow);
    if (!borrow) return nullptr;
    return PyFloat_FromDouble(player_max_speed(env->batch.worlds[0].player(0)));
}

PyObject* vecenv_teams(PyObject* self) {
    VecEnvObject* env = as_vecenv(self);
    SharedBorrow borrow(env->borrow);
    if (!borrow) return nullptr;
    const Batch& b = env->batch;
    npy_intp dims[2] = {static_cast<npy_intp>(b.worlds.size()),
                        static_cast<npy_intp>(b.n_players)};
    Ref out(PyArray_SimpleNew(2, dims, NPY_INT64));
    if (!out) return nullptr;
    auto* data = static_cast<std::int64_t*>(PyArray_DATA(reinterpret_cast<PyArrayObject*>(out.get())));
    for (const World& w : b.worlds) {
        for (std::size_t p = 0; p < b.n_players; ++p) *data++ = w.player(p).team;
    }
    return out.release();
}

}  // namespace vexlo::py
