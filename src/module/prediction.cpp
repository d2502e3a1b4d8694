// predict_ball: where every environment's ball will be after given numbers of
// ticks if no player touches it.
#include <cstdint>
#include <utility>
#include <vector>

#include "args.hpp"
#include "arrays.hpp"
#include "py_ref.hpp"
#include "vecenv.hpp"

namespace vexlo::py {
namespace {

// Reads `offsets` into tick counts. The items are taken from a tuple made
// first, so that an item's own conversion code cannot change the sequence
// being read.
bool to_offsets(PyObject* obj, std::vector<std::uint64_t>& out) {
    if (PyUnicode_Check(obj) || !PySequence_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "argument 'offsets': expected a sequence of integers, got '%s'",
                     Py_TYPE(obj)->tp_name);
        return false;
    }
    Ref items(PySequence_Tuple(obj));
    if (!items) {
        name_type_error("offsets");
        return false;
    }
    const Py_ssize_t k = PyTuple_GET_SIZE(items.get());
    out.reserve(static_cast<std::size_t>(k));
    for (Py_ssize_t i = 0; i < k; ++i) {
        std::uint64_t ticks = 0;
        if (!to_u64(PyTuple_GET_ITEM(items.get(), i), "offsets", ticks)) return false;
        out.push_back(ticks);
    }
    return true;
}

}  // namespace

const char* const PREDICT_PARAMS[] = {"offsets"};
const Signature PREDICT_SIGNATURE{"predict_ball", PREDICT_PARAMS, 1, 1};

PyObject* vecenv_predict_ball(Batch& b, PyObject* const* args) {
    std::vector<std::uint64_t> offsets;
    if (!to_offsets(args[0], offsets)) return nullptr;
    const npy_intp dims[3] = {static_cast<npy_intp>(b.n_envs()),
                              static_cast<npy_intp>(offsets.size()), 2};
    double* rows = nullptr;
    Ref result = new_array(3, dims, NPY_FLOAT64, rows);
    if (!result) return nullptr;
    // The lock stays held: a signal is looked for between spans.
    auto interrupted = [] { return PyErr_CheckSignals() < 0; };
    if (!b.predict(std::move(offsets), rows, interrupted)) return nullptr;
    return result.release();
}

}  // namespace vexlo::py
