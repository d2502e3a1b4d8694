// Construction of a VecEnv, its properties and teams().
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "args.hpp"
#include "numpy_api.hpp"
#include "py_ref.hpp"
#include "vexlo/stadium.hpp"
#include "vexlo/classic.hpp"
#include "stadium/memory_limit.hpp"
#include "stadium/text.hpp"
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

// Refuses with MemoryError, before anything is copied, a batch that does not
// fit in the memory the process can still use: otherwise it would only fail
// once its pages are touched, and then the kernel kills the whole process.
bool check_memory(const World& templ, const Dimensions& d) {
    // The batch's array is a mapping of whole pages too.
    const unsigned __int128 needed =
        static_cast<unsigned __int128>(d.n_envs) * world_bytes(templ) + PAGE;
    // A sixteenth is left over: the kernel reclaims memory before it runs
    // out, and Python allocates around the batch (arrays of its state).
    const std::uint64_t headroom = memory::current_memory_headroom();
    const std::uint64_t available = headroom - headroom / 16;
    if (needed <= available) return true;
    const std::string message = "a batch of " + decimal(d.n_envs) + " environments needs " +
                                decimal(needed) + " bytes, but only " + decimal(available) +
                                " are available";
    PyErr_SetString(PyExc_MemoryError, message.c_str());
    return false;
}

// n_envs deep copies of the template. Throws std::bad_alloc if the batch
// cannot be held; nothing survives a failure.
Batch make_batch(const World& templ, const Dimensions& d) {
    Batch batch;
    if (d.n_envs > batch.worlds.max_size()) throw std::bad_alloc();
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

// Turns the UnicodeEncodeError of a text holding an unpaired surrogate (the
// only thing a str can hold that UTF-8 cannot) into the ValueError of any
// other bad text, naming the place as the decoder does: the line, and the
// bytes up to and including the offending character on it.
PyObject* refuse_unencodable(PyObject* text) {
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return nullptr;
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    Ref owned_type(type), owned_value(value), owned_traceback(traceback);
    Py_ssize_t start = 0;
    if (value == nullptr || PyUnicodeEncodeError_GetStart(value, &start) != 0) return nullptr;
    Ref before(PyUnicode_Substring(text, 0, start));
    if (!before) return nullptr;
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(before.get(), &length);
    if (utf8 == nullptr) return nullptr;
    const std::string consumed = std::string(utf8, static_cast<std::size_t>(length)) + '?';
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(PyUnicode_ReadChar(text, start)));
    const std::string message = std::string(BAD_JSON_PREFIX) +
                                "text is not valid UTF-8: unpaired surrogate " + code +
                                stadium::position_suffix(consumed, consumed.size());
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return nullptr;
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
    const World& templ = *std::get_if<World>(&built);
    if (!check_memory(templ, d)) return nullptr;
    return wrap_batch(type, make_batch(templ, d));
}

PyObject* vecenv_from_vxs(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* objs[6];
    if (!bind(FROM_VXS_SIGNATURE, args, nargs, kwnames, objs)) return nullptr;
    if (!PyUnicode_Check(objs[0])) {
        PyErr_Format(PyExc_TypeError, "argument 'vxs': expected str, got '%s'",
                     Py_TYPE(objs[0])->tp_name);
        return nullptr;
    }
    Dimensions d;
    if (!convert_dimensions(objs + 1, d) || !check_dimensions(d)) return nullptr;
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(objs[0], &length);
    if (utf8 == nullptr) return refuse_unencodable(objs[0]);
    WorldOrError built =
        world_from_vxs(std::string_view(utf8, static_cast<std::size_t>(length)), d.n_red, d.n_blue);
    if (const std::string* error = std::get_if<std::string>(&built)) {
        PyErr_SetString(PyExc_ValueError, error->c_str());
        return nullptr;
    }
    const World& templ = *std::get_if<World>(&built);
    if (!check_memory(templ, d)) return nullptr;
    return wrap_batch(&VecEnvType, make_batch(templ, d));
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
