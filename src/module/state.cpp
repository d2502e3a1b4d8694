// snapshot, set_state, kick_state, set_kick_rate_limit and set_player_cmask.
#include <algorithm>
#include <string>

#include "args.hpp"
#include "arrays.hpp"
#include "numpy_api.hpp"
#include "physics/lane_tick.hpp"
#include "pool.hpp"
#include "py_ref.hpp"
#include "vecenv.hpp"

namespace vexlo::py {
namespace {

Vec2 read_vec2(const ArrayArg& a, std::ptrdiff_t at) {
    return Vec2{a.read<double>(at), a.read<double>(at + a.strides[a.ndim - 1])};
}

std::ptrdiff_t offset(const ArrayArg& a, std::size_t i, std::size_t j = 0) {
    return static_cast<std::ptrdiff_t>(i) * a.strides[0] +
           (a.ndim > 1 ? static_cast<std::ptrdiff_t>(j) * a.strides[1] : 0);
}

bool has_shape(const ArrayArg& a, std::size_t d0, std::size_t d1, std::size_t d2) {
    const std::size_t want[3] = {d0, d1, d2};
    for (int i = 0; i < a.ndim; ++i) {
        if (static_cast<std::size_t>(a.shape[i]) != want[i]) return false;
    }
    return true;
}

bool value_error(const std::string& message) {
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return false;
}

const char* const SET_STATE_PARAMS[] = {"ball_pos", "ball_vel", "player_pos", "player_vel",
                                        "steps"};
const Signature SET_STATE_SIGNATURE{"set_state", SET_STATE_PARAMS, 5, 4};
const char* const RATE_PARAMS[] = {"min", "cost", "cap"};
const Signature RATE_SIGNATURE{"set_kick_rate_limit", RATE_PARAMS, 3, 3};
const char* const CMASK_PARAMS[] = {"mask"};
const Signature CMASK_SIGNATURE{"set_player_cmask", CMASK_PARAMS, 1, 1};

// Copies the worlds of whole lane groups into their rows of the arrays, in
// the same groups as the steppers use, so that each thread mostly reads
// worlds that its own core touched last.
struct SnapshotTask {
    const Batch* b;
    double *ball_pos, *ball_vel, *player_pos, *player_vel;
    std::int64_t* steps;
    std::size_t width;

    void operator()(std::size_t group_begin, std::size_t group_end) const noexcept {
        const std::size_t n = b->worlds.size(), p = b->n_players;
        const std::size_t end = std::min(n, group_end * width);
        for (std::size_t i = group_begin * width; i < end; ++i) {
            const World& w = b->worlds[i];
            const Disc& ball = w.ball();
            ball_pos[2 * i] = ball.pos.x;
            ball_pos[2 * i + 1] = ball.pos.y;
            ball_vel[2 * i] = ball.vel.x;
            ball_vel[2 * i + 1] = ball.vel.y;
            for (std::size_t s = 0; s < p; ++s) {
                const Disc& d = w.player(s);
                const std::size_t at = 2 * (i * p + s);
                player_pos[at] = d.pos.x;
                player_pos[at + 1] = d.pos.y;
                player_vel[at] = d.vel.x;
                player_vel[at + 1] = d.vel.y;
            }
            steps[i] = static_cast<std::int64_t>(w.steps);
        }
    }
};

}  // namespace

PyObject* vecenv_snapshot(PyObject* self) {
    VecEnvObject* env = as_vecenv(self);
    SharedBorrow borrow(env->borrow);
    if (!borrow) return nullptr;
    const Batch& b = env->batch;
    const auto n = static_cast<npy_intp>(b.worlds.size());
    const auto p = static_cast<npy_intp>(b.n_players);
    const npy_intp ball_dims[2] = {n, 2};
    const npy_intp player_dims[3] = {n, p, 2};
    const npy_intp step_dims[1] = {n};
    double *ball_pos = nullptr, *ball_vel = nullptr, *player_pos = nullptr, *player_vel = nullptr;
    std::int64_t* steps = nullptr;
    Ref a0 = new_array(2, ball_dims, NPY_FLOAT64, ball_pos);
    Ref a1 = new_array(2, ball_dims, NPY_FLOAT64, ball_vel);
    Ref a2 = new_array(3, player_dims, NPY_FLOAT64, player_pos);
    Ref a3 = new_array(3, player_dims, NPY_FLOAT64, player_vel);
    Ref a4 = new_array(1, step_dims, NPY_INT64, steps);
    if (!a0 || !a1 || !a2 || !a3 || !a4) return nullptr;
    SnapshotTask task{&b, ball_pos, ball_vel, player_pos, player_vel, steps, lane_width()};
    pool::parallel_for(pool::group_count(b.worlds.size(), task.width), task);
    return make_tuple(a0, a1, a2, a3, a4);
}

PyObject* vecenv_set_state(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    PyObject* objs[5];
    if (!bind(SET_STATE_SIGNATURE, args, nargs, kwnames, objs)) return nullptr;
    VecEnvObject* env = as_vecenv(self);
    ExclusiveBorrow borrow(env->borrow);
    if (!borrow) return nullptr;
    ArrayArg ball_pos, ball_vel, player_pos, player_vel, steps;
    const bool has_steps = objs[4] != nullptr && objs[4] != Py_None;
    if (!to_array(objs[0], "ball_pos", NPY_FLOAT64, 2, ball_pos) ||
        !to_array(objs[1], "ball_vel", NPY_FLOAT64, 2, ball_vel) ||
        !to_array(objs[2], "player_pos", NPY_FLOAT64, 3, player_pos) ||
        !to_array(objs[3], "player_vel", NPY_FLOAT64, 3, player_vel) ||
        (has_steps && !to_array(objs[4], "steps", NPY_INT64, 1, steps)))
        return nullptr;

    Batch& b = env->batch;
    const std::size_t n = b.worlds.size();
    const std::size_t p = b.n_players;
    if (!has_shape(ball_pos, n, 2, 0) || !has_shape(ball_vel, n, 2, 0)) {
        value_error("set_state: ball_pos " + shape_text(ball_pos) + " / ball_vel " +
                    shape_text(ball_vel) + " must both be (n_envs=" + decimal(n) + ", 2)");
        return nullptr;
    }
    if (!has_shape(player_pos, n, p, 2) || !has_shape(player_vel, n, p, 2)) {
        value_error("set_state: player_pos " + shape_text(player_pos) + " / player_vel " +
                    shape_text(player_vel) + " must both be (n_envs=" + decimal(n) +
                    ", n_players=" + decimal(p) + ", 2)");
        return nullptr;
    }
    if (has_steps && static_cast<std::size_t>(steps.shape[0]) != n) {
        value_error("set_state: steps length " + decimal(steps.shape[0]) +
                    " != n_envs " + decimal(n));
        return nullptr;
    }

    for (std::size_t e = 0; e < n; ++e) {
        World& w = b.worlds[e];
        w.ball().pos = read_vec2(ball_pos, offset(ball_pos, e));
        w.ball().vel = read_vec2(ball_vel, offset(ball_vel, e));
        for (std::size_t s = 0; s < p; ++s) {
            Disc& d = w.player(s);
            d.pos = read_vec2(player_pos, offset(player_pos, e, s));
            d.vel = read_vec2(player_vel, offset(player_vel, e, s));
            w.kicking[s] = false;
            w.kick_held[s] = false;
            w.kick_cooldown[s] = 0;
            w.kick_credit[s] = 0;
        }
        w.steps = has_steps ? static_cast<std::uint64_t>(steps.read<std::int64_t>(offset(steps, e)))
                            : 0;
        w.phase = Phase::Playing;
    }
    Py_RETURN_NONE;
}

PyObject* vecenv_kick_state(PyObject* self) {
    VecEnvObject* env = as_vecenv(self);
    SharedBorrow borrow(env->borrow);
    if (!borrow) return nullptr;
    const Batch& b = env->batch;
    const World& w = b.worlds[0];
    const npy_intp dims[1] = {static_cast<npy_intp>(b.n_players)};
    std::int64_t* flag = nullptr;
    std::int64_t* cooldown = nullptr;
    Ref flags = new_array(1, dims, NPY_INT64, flag);
    Ref cooldowns = new_array(1, dims, NPY_INT64, cooldown);
    if (!flags || !cooldowns) return nullptr;
    for (std::size_t s = 0; s < b.n_players; ++s) {
        flag[s] = w.kicking[s] ? 1 : 0;
        cooldown[s] = w.kick_cooldown[s];
    }
    return make_tuple(flags, cooldowns);
}

PyObject* vecenv_set_kick_rate_limit(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames) {
    PyObject* objs[3];
    if (!bind(RATE_SIGNATURE, args, nargs, kwnames, objs)) return nullptr;
    VecEnvObject* env = as_vecenv(self);
    ExclusiveBorrow borrow(env->borrow);
    if (!borrow) return nullptr;
    std::int64_t min = 0, cost = 0, cap = 0;
    if (!to_i64(objs[0], "min", min) || !to_i64(objs[1], "cost", cost) ||
        !to_i64(objs[2], "cap", cap))
        return nullptr;
    for (World& w : env->batch.worlds) {
        w.kick_rate_min = min;
        w.kick_rate_cost = cost;
        w.kick_rate_cap = cap;
    }
    Py_RETURN_NONE;
}

PyObject* vecenv_set_player_cmask(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames) {
    PyObject* objs[1];
    if (!bind(CMASK_SIGNATURE, args, nargs, kwnames, objs)) return nullptr;
    VecEnvObject* env = as_vecenv(self);
    ExclusiveBorrow borrow(env->borrow);
    if (!borrow) return nullptr;
    std::int64_t mask = 0;
    if (!to_i64(objs[0], "mask", mask)) return nullptr;
    Batch& b = env->batch;
    for (World& w : b.worlds) {
        for (std::size_t s = 0; s < b.n_players; ++s) w.player(s).c_mask = mask;
    }
    Py_RETURN_NONE;
}

}  // namespace vexlo::py
