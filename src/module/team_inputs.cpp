// team_inputs: one team's action digits written into the engine's inputs.
#include <cstdint>
#include <vector>

#include "args.hpp"
#include "vecenv.hpp"

namespace vexlo::py {
namespace {

// The caller's input array is written in place: dense int64 of exactly the
// batch's (n_envs, n_players, 3).
bool to_inputs_array(PyObject* obj, npy_intp n, npy_intp p, std::int64_t*& rows) {
    ArrayArg out;
    if (!to_array(obj, "out", NPY_INT64, 3, out)) return false;
    if (out.shape[0] != n || out.shape[1] != p || out.shape[2] != 3) {
        PyErr_Format(PyExc_ValueError,
                     "argument 'out': shape (%zd, %zd, %zd) must be (n_envs=%zd, n_players=%zd, 3)",
                     static_cast<Py_ssize_t>(out.shape[0]), static_cast<Py_ssize_t>(out.shape[1]),
                     static_cast<Py_ssize_t>(out.shape[2]), static_cast<Py_ssize_t>(n),
                     static_cast<Py_ssize_t>(p));
        return false;
    }
    if (!writes_in_place(out, "out")) return false;
    rows = static_cast<std::int64_t*>(PyArray_DATA(out.array));
    return true;
}

}  // namespace

const char* const TEAM_INPUTS_PARAMS[] = {"digits", "slots", "mirror", "kick_value", "out"};
const Signature TEAM_INPUTS_SIGNATURE{"team_inputs", TEAM_INPUTS_PARAMS, 5, 5};

PyObject* vecenv_team_inputs(Batch& b, PyObject* const* args) {
    ArrayArg digits;
    std::vector<std::uint64_t> slots;
    std::int64_t kick_value = 0;
    if (!to_array(args[0], "digits", NPY_INT64, 2, digits) ||
        !to_u64_sequence(args[1], "slots", slots))
        return nullptr;
    const int mirror = PyObject_IsTrue(args[2]);
    if (mirror < 0 || !to_i64(args[3], "kick_value", kick_value)) return nullptr;
    std::int64_t* rows = nullptr;
    if (!to_inputs_array(args[4], static_cast<npy_intp>(b.n_envs()),
                         static_cast<npy_intp>(b.n_players()), rows))
        return nullptr;
    bool wrote = false;
    if (BatchStatus refused = b.team_inputs(digits.view<std::int64_t, 2>(), slots, mirror != 0,
                                            kick_value, rows, wrote))
        return raise(*refused);
    return PyBool_FromLong(wrote);
}

}  // namespace vexlo::py
