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

const char* const PREDICT_PARAMS[] = {"offsets"};
const Signature PREDICT_SIGNATURE{"predict_ball", PREDICT_PARAMS, 1, 1};

PyObject* vecenv_predict_ball(Batch& b, PyObject* const* args) {
    std::vector<std::uint64_t> offsets;
    if (!to_u64_sequence(args[0], "offsets", offsets)) return nullptr;
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
