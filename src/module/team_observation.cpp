// team_observation: the default observation of one team for every environment.
#include <cstdint>
#include <utility>
#include <vector>

#include "args.hpp"
#include "arrays.hpp"
#include "py_ref.hpp"
#include "team_frame_arg.hpp"
#include "vecenv.hpp"

namespace vexlo::py {
namespace {

// The caller's array must take the rows as they are written: dense float32
// of exactly the row count and width.
bool to_out_array(PyObject* obj, npy_intp n, npy_intp width, float*& rows) {
    ArrayArg out;
    if (!to_array(obj, "out", NPY_FLOAT32, 2, out)) return false;
    if (out.shape[0] != n || out.shape[1] != width) {
        PyErr_Format(PyExc_ValueError, "argument 'out': shape (%zd, %zd) must be (n_envs=%zd, %zd)",
                     static_cast<Py_ssize_t>(out.shape[0]), static_cast<Py_ssize_t>(out.shape[1]),
                     static_cast<Py_ssize_t>(n), static_cast<Py_ssize_t>(width));
        return false;
    }
    if (!writes_in_place(out, "out")) return false;
    rows = static_cast<float*>(PyArray_DATA(out.array));
    return true;
}

}  // namespace

bool to_team_frame(PyObject* const* args, TeamFrame& frame) {
    if (!to_u64_sequence(args[0], "slots", frame.slots) ||
        !to_f64(args[1], "pos_mul", frame.pos_mul) || !to_f64(args[2], "vel_mul", frame.vel_mul) ||
        !to_vec2(args[3], "pos_off", frame.pos_off) || !to_vec2(args[4], "opp_goal", frame.opp_goal))
        return false;
    const int mirror = PyObject_IsTrue(args[5]);
    if (mirror < 0) return false;
    frame.mirror = mirror != 0;
    return true;
}

const char* const TEAM_OBSERVATION_PARAMS[] = {
    "ball_pos", "ball_vel", "player_pos", "player_vel", "slots", "pos_mul",
    "vel_mul",  "pos_off",  "opp_goal",   "mirror",     "offsets", "out"};
const Signature TEAM_OBSERVATION_SIGNATURE{"team_observation", TEAM_OBSERVATION_PARAMS, 12, 11};

PyObject* vecenv_team_observation(Batch& b, PyObject* const* args) {
    ArrayArg ball_pos, ball_vel, player_pos, player_vel;
    TeamFrame frame;
    std::vector<std::uint64_t> offsets;
    if (!to_array(args[0], "ball_pos", NPY_FLOAT64, 2, ball_pos) ||
        !to_array(args[1], "ball_vel", NPY_FLOAT64, 2, ball_vel) ||
        !to_array(args[2], "player_pos", NPY_FLOAT64, 3, player_pos) ||
        !to_array(args[3], "player_vel", NPY_FLOAT64, 3, player_vel) ||
        !to_team_frame(args + 4, frame) || !to_u64_sequence(args[10], "offsets", offsets))
        return nullptr;

    const auto n = static_cast<npy_intp>(b.n_envs());
    const auto width =
        static_cast<npy_intp>(Batch::team_observation_width(frame.slots.size(), offsets.size()));
    float* rows = nullptr;
    Ref result;
    if (args[11] != nullptr && args[11] != Py_None) {
        if (!to_out_array(args[11], n, width, rows)) return nullptr;
        result = Ref::borrowed(args[11]);
    } else {
        const npy_intp dims[2] = {n, width};
        result = new_array(2, dims, NPY_FLOAT32, rows);
        if (!result) return nullptr;
    }
    const BatchStateView state{ball_pos.view<double, 2>(), ball_vel.view<double, 2>(),
                               player_pos.view<double, 3>(), player_vel.view<double, 3>()};
    // The lock stays held: a signal is looked for between spans of the prediction.
    auto interrupted = [] { return PyErr_CheckSignals() < 0; };
    bool finished = false;
    if (BatchStatus refused =
            b.team_observation(state, frame, std::move(offsets), rows, finished, interrupted))
        return raise(*refused);
    if (!finished) return nullptr;
    return result.release();
}

}  // namespace vexlo::py
