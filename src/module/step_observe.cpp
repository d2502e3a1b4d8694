// step_observe: a step, its restarts, the state after it and one team's
// observation of that state, in one engine call.
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "args.hpp"
#include "arrays.hpp"
#include "py_ref.hpp"
#include "team_frame_arg.hpp"
#include "vecenv.hpp"

namespace vexlo::py {

namespace {

// `frames`: a sequence of (slots, pos_mul, vel_mul, pos_off, opp_goal, mirror).
bool to_team_frames(PyObject* obj, std::vector<TeamFrame>& frames) {
    constexpr Py_ssize_t FIELDS = 6;
    if (PyUnicode_Check(obj) || !PySequence_Check(obj)) {
        PyErr_Format(PyExc_TypeError, "argument 'frames': expected a sequence of frames, got '%s'",
                     Py_TYPE(obj)->tp_name);
        return false;
    }
    Ref items(PySequence_Tuple(obj));
    if (!items) return false;
    for (Py_ssize_t f = 0; f < PyTuple_GET_SIZE(items.get()); ++f) {
        Ref fields(PySequence_Tuple(PyTuple_GET_ITEM(items.get(), f)));
        if (!fields || PyTuple_GET_SIZE(fields.get()) != FIELDS) {
            PyErr_Clear();
            PyErr_SetString(PyExc_TypeError,
                            "argument 'frames': each frame is (slots, pos_mul, vel_mul, pos_off, "
                            "opp_goal, mirror)");
            return false;
        }
        TeamFrame frame;
        if (!to_team_frame(&PyTuple_GET_ITEM(fields.get(), 0), frame)) return false;
        frames.push_back(std::move(frame));
    }
    return true;
}

}  // namespace

const char* const STEP_OBSERVE_PARAMS[] = {"actions", "restart", "frames", "offsets"};
const Signature STEP_OBSERVE_SIGNATURE{"step_observe", STEP_OBSERVE_PARAMS, 4, 4};

PyObject* vecenv_step_observe(Batch& b, PyObject* const* args) {
    ArrayArg actions, restart;
    std::vector<TeamFrame> frames;
    std::vector<std::uint64_t> offsets;
    const bool has_restart = args[1] != Py_None;
    if (!to_array(args[0], "actions", NPY_INT64, 3, actions) ||
        (has_restart && !to_array(args[1], "restart", NPY_BOOL, 1, restart)) ||
        !to_team_frames(args[2], frames) || !to_u64_sequence(args[3], "offsets", offsets))
        return nullptr;
    static_assert(sizeof(npy_bool) == sizeof(std::uint8_t));
    EnvMask mask;
    if (has_restart) mask = restart.view<std::uint8_t, 1>();

    const auto n = static_cast<npy_intp>(b.n_envs());
    const auto p = static_cast<npy_intp>(b.n_players());
    const npy_intp env_dims[1] = {n};
    const npy_intp ball_dims[2] = {n, 2};
    const npy_intp player_dims[3] = {n, p, 2};
    const std::size_t n_slots = frames.empty() ? 0 : frames[0].slots.size();
    const npy_intp obs_dims[3] = {
        static_cast<npy_intp>(frames.size()), n,
        static_cast<npy_intp>(Batch::team_observation_width(n_slots, offsets.size()))};
    std::int8_t* scored_rows = nullptr;
    float* obs_rows = nullptr;
    BatchSnapshot state{};
    Ref scored = new_array(1, env_dims, NPY_INT8, scored_rows);
    Ref ball_pos = new_array(2, ball_dims, NPY_FLOAT64, state.ball_pos);
    Ref ball_vel = new_array(2, ball_dims, NPY_FLOAT64, state.ball_vel);
    Ref player_pos = new_array(3, player_dims, NPY_FLOAT64, state.player_pos);
    Ref player_vel = new_array(3, player_dims, NPY_FLOAT64, state.player_vel);
    Ref steps = new_array(1, env_dims, NPY_INT64, state.steps);
    Ref obs = new_array(3, obs_dims, NPY_FLOAT32, obs_rows);
    if (!scored || !ball_pos || !ball_vel || !player_pos || !player_vel || !steps || !obs)
        return nullptr;
    // The lock stays held: a signal is looked for between spans of a long prediction.
    auto interrupted = [] { return PyErr_CheckSignals() < 0; };
    bool finished = false;
    if (BatchStatus refused = b.step_observe(actions.view<std::int64_t, 3>(), mask, frames,
                                             std::move(offsets), scored_rows, state, obs_rows,
                                             finished, interrupted))
        return raise(*refused);
    if (!finished) return nullptr;
    return make_tuple(scored, ball_pos, ball_vel, player_pos, player_vel, steps, obs);
}

}  // namespace vexlo::py
