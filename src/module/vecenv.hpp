#pragma once

#include <Python.h>

#include <cstdint>
#include <vector>

#include "borrow.hpp"
#include "vexlo/world.hpp"
#include "workspace.hpp"

namespace vexlo::py {

// What a VecEnv holds besides the object header. Fixed after construction
// except for the contents of the worlds.
struct Batch {
    std::vector<World> worlds;  // one per environment; N is its length
    std::uint64_t n_players = 0;
    std::uint64_t obs_dim = 0;
    std::uint64_t step_limit = 0;
    std::uint64_t tick_skip = 1;
    BatchWorkspace workspace;  // for stepping and prediction; points into worlds[0]
};

struct VecEnvObject {
    PyObject_HEAD
    BorrowFlag borrow;
    Batch batch;
};

inline VecEnvObject* as_vecenv(PyObject* self) { return reinterpret_cast<VecEnvObject*>(self); }

// The class object; ready once init_vecenv_type has succeeded.
extern PyTypeObject VecEnvType;
int init_vecenv_type();

// Method bodies, grouped by the file that defines them. Each runs inside the
// exception guard of the method table (vecenv_type.cpp).

// vecenv.cpp: construction, properties, teams
PyObject* vecenv_new(PyTypeObject* type, PyObject* args, PyObject* kwargs);
PyObject* vecenv_from_vxs(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* vecenv_n_envs(PyObject* self);
PyObject* vecenv_n_players(PyObject* self);
PyObject* vecenv_obs_dim(PyObject* self);
PyObject* vecenv_player_max_speed(PyObject* self);
PyObject* vecenv_teams(PyObject* self);

// stepping.cpp: physics_step, reset_all, reset_mask, rollout_bench
PyObject* vecenv_physics_step(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);
PyObject* vecenv_reset_all(PyObject* self);
PyObject* vecenv_reset_mask(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames);
PyObject* vecenv_rollout_bench(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                               PyObject* kwnames);

// state.cpp: snapshot, set_state, kick_state and the two settings
PyObject* vecenv_snapshot(PyObject* self);
PyObject* vecenv_set_state(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames);
PyObject* vecenv_kick_state(PyObject* self);
PyObject* vecenv_set_kick_rate_limit(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                     PyObject* kwnames);
PyObject* vecenv_set_player_cmask(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                  PyObject* kwnames);

// geometry_queries.cpp: the stadium's goal lines, walls and obstacles
PyObject* vecenv_goals(PyObject* self);
PyObject* vecenv_wall_segments(PyObject* self);
PyObject* vecenv_obstacle_discs(PyObject* self);

// prediction.cpp: predict_ball
PyObject* vecenv_predict_ball(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                              PyObject* kwnames);

// probes.cpp: the module-level collision probes
extern PyMethodDef PROBE_FUNCTIONS[];

}  // namespace vexlo::py
