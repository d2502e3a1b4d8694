// snapshot, set_state, kick_state, set_kick_rate_limit and set_player_cmask.
#include "args.hpp"
#include "arrays.hpp"
#include "numpy_api.hpp"
#include "py_ref.hpp"
#include "vecenv.hpp"

namespace vexlo::py {

const char* const SET_STATE_PARAMS[] = {"ball_pos", "ball_vel", "player_pos", "player_vel",
                                        "steps"};
const Signature SET_STATE_SIGNATURE{"set_state", SET_STATE_PARAMS, 5, 4};
const char* const RATE_PARAMS[] = {"min", "cost", "cap"};
const Signature RATE_SIGNATURE{"set_kick_rate_limit", RATE_PARAMS, 3, 3};
const char* const CMASK_PARAMS[] = {"mask"};
const Signature CMASK_SIGNATURE{"set_player_cmask", CMASK_PARAMS, 1, 1};

PyObject* vecenv_snapshot(Batch& b, PyObject* const*) {
    const auto n = static_cast<npy_intp>(b.n_envs());
    const auto p = static_cast<npy_intp>(b.n_players());
    const npy_intp ball_dims[2] = {n, 2};
    const npy_intp player_dims[3] = {n, p, 2};
    const npy_intp step_dims[1] = {n};
    BatchSnapshot out{};
    Ref a0 = new_array(2, ball_dims, NPY_FLOAT64, out.ball_pos);
    Ref a1 = new_array(2, ball_dims, NPY_FLOAT64, out.ball_vel);
    Ref a2 = new_array(3, player_dims, NPY_FLOAT64, out.player_pos);
    Ref a3 = new_array(3, player_dims, NPY_FLOAT64, out.player_vel);
    Ref a4 = new_array(1, step_dims, NPY_INT64, out.steps);
    if (!a0 || !a1 || !a2 || !a3 || !a4) return nullptr;
    b.snapshot(out);
    return make_tuple(a0, a1, a2, a3, a4);
}

PyObject* vecenv_set_state(Batch& b, PyObject* const* args) {
    ArrayArg ball_pos, ball_vel, player_pos, player_vel, steps;
    const bool has_steps = args[4] != nullptr && args[4] != Py_None;
    if (!to_array(args[0], "ball_pos", NPY_FLOAT64, 2, ball_pos) ||
        !to_array(args[1], "ball_vel", NPY_FLOAT64, 2, ball_vel) ||
        !to_array(args[2], "player_pos", NPY_FLOAT64, 3, player_pos) ||
        !to_array(args[3], "player_vel", NPY_FLOAT64, 3, player_vel) ||
        (has_steps && !to_array(args[4], "steps", NPY_INT64, 1, steps)))
        return nullptr;
    BatchPlacement placement{ball_pos.view<double, 2>(), ball_vel.view<double, 2>(),
                             player_pos.view<double, 3>(), player_vel.view<double, 3>(),
                             std::nullopt};
    if (has_steps) placement.steps = steps.view<std::int64_t, 1>();
    if (BatchStatus refused = b.set_state(placement)) return raise(*refused);
    Py_RETURN_NONE;
}

PyObject* vecenv_kick_state(Batch& b, PyObject* const*) {
    const npy_intp dims[1] = {static_cast<npy_intp>(b.n_players())};
    std::int64_t* flag = nullptr;
    std::int64_t* cooldown = nullptr;
    Ref flags = new_array(1, dims, NPY_INT64, flag);
    Ref cooldowns = new_array(1, dims, NPY_INT64, cooldown);
    if (!flags || !cooldowns) return nullptr;
    b.kick_state(flag, cooldown);
    return make_tuple(flags, cooldowns);
}

PyObject* vecenv_set_kick_rate_limit(Batch& b, PyObject* const* args) {
    std::int64_t min = 0, cost = 0, cap = 0;
    if (!to_i64(args[0], "min", min) || !to_i64(args[1], "cost", cost) ||
        !to_i64(args[2], "cap", cap))
        return nullptr;
    b.set_kick_rate_limit(min, cost, cap);
    Py_RETURN_NONE;
}

PyObject* vecenv_set_player_cmask(Batch& b, PyObject* const* args) {
    std::int64_t mask = 0;
    if (!to_i64(args[0], "mask", mask)) return nullptr;
    b.set_player_cmask(mask);
    Py_RETURN_NONE;
}

}  // namespace vexlo::py
