// Construction of a VecEnv, its properties and teams().
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "args.hpp"
#include "arrays.hpp"
#include "numpy_api.hpp"
#include "py_ref.hpp"
#include "stadium_text_arg.hpp"
#include "vecenv.hpp"
#include "vexlo/stadium.hpp"

namespace vexlo::py {
namespace {

// Converts the five size arguments in order; omitted ones keep their defaults.
bool convert_sizes(PyObject* const* objs, BatchSizes& d) {
    if (!to_u64(objs[0], "n_envs", d.n_envs)) return false;
    if (!to_u64(objs[1], "n_red", d.n_red)) return false;
    if (!to_u64(objs[2], "n_blue", d.n_blue)) return false;
    if (objs[3] != nullptr && !to_u64(objs[3], "step_limit", d.step_limit)) return false;
    if (objs[4] != nullptr && !to_u64(objs[4], "tick_skip", d.tick_skip)) return false;
    return true;
}

const char* const NEW_PARAMS[] = {"n_envs", "n_red", "n_blue", "step_limit", "tick_skip"};
const Signature NEW_SIGNATURE{"VecEnv", NEW_PARAMS, 5, 3};

const char* const FROM_VXS_PARAMS[] = {"vxs",    "n_envs",     "n_red",
                                       "n_blue", "step_limit", "tick_skip"};
const Signature FROM_VXS_SIGNATURE{"from_vxs", FROM_VXS_PARAMS, 6, 4};

}  // namespace

// If the object cannot be allocated, the batch is released with the caller's.
PyObject* wrap_batch(PyTypeObject* type, BatchOrError&& built) {
    if (const BatchError* error = std::get_if<BatchError>(&built)) return raise(*error);
    PyObject* self = type->tp_alloc(type, 0);
    if (self == nullptr) return nullptr;
    VecEnvObject* env = as_vecenv(self);
    new (&env->borrow) BorrowFlag();
    new (&env->batch) Batch(std::move(std::get<Batch>(built)));
    return self;
}

PyObject* raise(const BatchError& error) {
    PyObject* type = PyExc_ValueError;
    if (error.kind == BatchError::Kind::OutOfMemory) type = PyExc_MemoryError;
    if (error.kind == BatchError::Kind::Internal) type = PyExc_RuntimeError;
    PyErr_SetString(type, error.message.c_str());
    return nullptr;
}

PyObject* vecenv_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* objs[5];
    if (!bind(NEW_SIGNATURE, args, kwargs, objs)) return nullptr;
    BatchSizes d;
    if (!convert_sizes(objs, d)) return nullptr;
    return wrap_batch(type, Batch::classic(d));
}

PyObject* vecenv_from_vxs(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* objs[6];
    if (!bind(FROM_VXS_SIGNATURE, args, nargs, kwnames, objs)) return nullptr;
    if (!PyUnicode_Check(objs[0])) {  // the type is refused before the sizes, the text after them
        PyErr_Format(PyExc_TypeError, "argument 'vxs': expected str, got '%s'",
                     Py_TYPE(objs[0])->tp_name);
        return nullptr;
    }
    BatchSizes d;
    if (!convert_sizes(objs + 1, d)) return nullptr;
    // Sizes are refused before the text is looked at.
    if (BatchStatus refused = Batch::check_sizes(d)) return raise(*refused);
    const std::optional<std::string_view> text = stadium_text_arg(objs[0]);
    if (!text) return nullptr;
    return wrap_batch(&VecEnvType, Batch::from_stadium(*text, d));
}

PyObject* vecenv_n_envs(Batch& b, PyObject* const*) { return PyLong_FromSize_t(b.n_envs()); }

PyObject* vecenv_n_players(Batch& b, PyObject* const*) { return PyLong_FromSize_t(b.n_players()); }

PyObject* vecenv_obs_dim(Batch& b, PyObject* const*) {
    return PyLong_FromUnsignedLongLong(b.obs_dim());
}

PyObject* vecenv_player_max_speed(Batch& b, PyObject* const*) {
    return PyFloat_FromDouble(b.player_max_speed());
}

PyObject* vecenv_teams(Batch& b, PyObject* const*) {
    const npy_intp dims[2] = {static_cast<npy_intp>(b.n_envs()),
                              static_cast<npy_intp>(b.n_players())};
    std::int64_t* data = nullptr;
    Ref out = new_array(2, dims, NPY_INT64, data);
    if (!out) return nullptr;
    b.teams(data);
    return out.release();
}

}  // namespace vexlo::py
