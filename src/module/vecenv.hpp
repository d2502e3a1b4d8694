#pragma once

#include <Python.h>

#include <type_traits>

#include "args.hpp"
#include "borrow.hpp"
#include "guard.hpp"
#include "vexlo/batch.hpp"

namespace vexlo::py {

struct VecEnvObject {
    PyObject_HEAD
    BorrowFlag borrow;
    Batch batch;
};

inline VecEnvObject* as_vecenv(PyObject* self) { return reinterpret_cast<VecEnvObject*>(self); }

// The class object; ready once init_vecenv_type has succeeded.
extern PyTypeObject VecEnvType;
int init_vecenv_type();

// The body of a method: the batch, borrowed as its adapter says, and the
// bound arguments in parameter order (null where omitted; none for a method
// without parameters).
using MethodBody = PyObject* (*)(Batch& batch, PyObject* const* args);

enum class Access { Shared, Exclusive };

// The adapters from the interpreter's calling conventions to method bodies:
// inside the exception guard, they bind the arguments by the signature,
// then take the borrow (a conflicting call fails at once), then run the body.
template <Access A>
using BorrowOf = std::conditional_t<A == Access::Shared, SharedBorrow, ExclusiveBorrow>;

template <Access A, const Signature* Sig, MethodBody F>
PyObject* method(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        PyObject* objs[12];  // no method takes more parameters (team_observation has 12)
        if (!bind(*Sig, args, nargs, kwnames, objs)) return nullptr;
        VecEnvObject* env = as_vecenv(self);
        BorrowOf<A> borrow(env->borrow);
        if (!borrow) return nullptr;
        return F(env->batch, objs);
    });
}

template <Access A, MethodBody F>
PyObject* method_noargs(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        VecEnvObject* env = as_vecenv(self);
        BorrowOf<A> borrow(env->borrow);
        if (!borrow) return nullptr;
        return F(env->batch, nullptr);
    });
}

template <MethodBody F>
PyObject* property(PyObject* self, void*) {
    return method_noargs<Access::Shared, F>(self, nullptr);
}

// The bodies and signatures, grouped by the file that defines them.

// vecenv.cpp: construction, properties, teams
PyObject* vecenv_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
PyObject* vecenv_from_vxs(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* vecenv_n_envs(Batch& b, PyObject* const*);
PyObject* vecenv_n_players(Batch& b, PyObject* const*);
PyObject* vecenv_obs_dim(Batch& b, PyObject* const*);
PyObject* vecenv_player_max_speed(Batch& b, PyObject* const*);
PyObject* vecenv_teams(Batch& b, PyObject* const*);

// stepping.cpp: physics_step, reset_all, reset_mask, rollout_bench
extern const Signature STEP_SIGNATURE, MASK_SIGNATURE, BENCH_SIGNATURE;
PyObject* vecenv_physics_step(Batch& b, PyObject* const* args);
PyObject* vecenv_reset_all(Batch& b, PyObject* const*);
PyObject* vecenv_reset_mask(Batch& b, PyObject* const* args);
PyObject* vecenv_rollout_bench(Batch& b, PyObject* const* args);

// state.cpp: snapshot, set_state, kick_state and the two settings
extern const Signature SET_STATE_SIGNATURE, RATE_SIGNATURE, CMASK_SIGNATURE;
PyObject* vecenv_snapshot(Batch& b, PyObject* const*);
PyObject* vecenv_set_state(Batch& b, PyObject* const* args);
PyObject* vecenv_kick_state(Batch& b, PyObject* const*);
PyObject* vecenv_set_kick_rate_limit(Batch& b, PyObject* const* args);
PyObject* vecenv_set_player_cmask(Batch& b, PyObject* const* args);

// state_blob.cpp: state blobs, digests, pickling and copying
extern const Signature SAVE_STATE_SIGNATURE, LOAD_STATE_SIGNATURE, SETSTATE_SIGNATURE,
    DEEPCOPY_SIGNATURE;
PyObject* vecenv_save_state(Batch& b, PyObject* const* args);
PyObject* vecenv_load_state(Batch& b, PyObject* const* args);
PyObject* vecenv_digest(Batch& b, PyObject* const*);
PyObject* vecenv_reduce(Batch& b, PyObject* const*);
PyObject* vecenv_setstate(Batch& b, PyObject* const* args);
PyObject* vecenv_copy(Batch& b, PyObject* const*);
PyObject* vecenv_deepcopy(Batch& b, PyObject* const* args);

// geometry_queries.cpp: the stadium's goal lines, walls and obstacles
PyObject* vecenv_goals(Batch& b, PyObject* const*);
PyObject* vecenv_wall_segments(Batch& b, PyObject* const*);
PyObject* vecenv_obstacle_discs(Batch& b, PyObject* const*);

// prediction.cpp: predict_ball
extern const Signature PREDICT_SIGNATURE;
PyObject* vecenv_predict_ball(Batch& b, PyObject* const* args);

// team_observation.cpp: the default team observation of every environment
extern const Signature TEAM_OBSERVATION_SIGNATURE;
PyObject* vecenv_team_observation(Batch& b, PyObject* const* args);
extern const Signature STEP_OBSERVE_SIGNATURE;
PyObject* vecenv_step_observe(Batch& b, PyObject* const* args);

// team_inputs.cpp: one team's action digits as engine inputs
extern const Signature TEAM_INPUTS_SIGNATURE;
PyObject* vecenv_team_inputs(Batch& b, PyObject* const* args);

// Wraps a finished batch in a new Python object of `type`, or raises its
// refusal (vecenv.cpp).
PyObject* wrap_batch(PyTypeObject* type, BatchOrError&& built);

// Turns a refusal of the batch into the matching Python exception; null.
PyObject* raise(const BatchError& error);

// probes.cpp: the module-level collision probes
extern PyMethodDef PROBE_FUNCTIONS[];
// threads.cpp: set_num_threads and get_num_threads
extern PyMethodDef THREAD_FUNCTIONS[];

}  // namespace vexlo::py
