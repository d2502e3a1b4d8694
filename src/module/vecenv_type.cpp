// The VecEnv class object: its method table, properties and lifetime.
#include "guard.hpp"
#include "vecenv.hpp"

namespace vexlo::py {
namespace {

PyObject* new_guarded(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded([&] { return vecenv_new(type, args, kwargs); });
}

void dealloc(PyObject* self) noexcept {
    // A method in progress holds a reference, so no borrow is outstanding here.
    VecEnvObject* env = as_vecenv(self);
    env->batch.~Batch();
    env->borrow.~BorrowFlag();
    Py_TYPE(self)->tp_free(self);
}

constexpr int FASTCALL = METH_FASTCALL | METH_KEYWORDS;
using enum Access;

// In the order the class lists its members. A new method: declare its body
// (and signature) in vecenv.hpp and add its entry where it belongs, with the
// access it needs: shared to read the batch, exclusive to change it.
PyMethodDef METHODS[] = {
    {"from_vxs", as_cfunction(fastcall<vecenv_from_vxs>), FASTCALL | METH_STATIC,
     "from_vxs(vxs, n_envs, n_red, n_blue, step_limit=2400, tick_skip=8)\n--\n\n"
     "Build a batch from a Vexlo `.vxs` stadium (plain JSON text). Geometry,\n"
     "goals, spawns, and ball/player physics all come from the map \u2014 including\n"
     "curved wall segments (rounded corners, goal nets), so any map is faithful."},
    {"reset_all", as_cfunction(method_noargs<Exclusive, vecenv_reset_all>), METH_NOARGS,
     "reset_all($self)\n--\n\n"
     "Reset every env: positions, scores, step counter. A fresh game -> RED kicks off."},
    {"reset_mask", as_cfunction(method<Exclusive, &MASK_SIGNATURE, vecenv_reset_mask>), FASTCALL,
     "reset_mask($self, mask)\n--\n\n"
     "Reset only the envs whose mask entry is true (gym-style auto-reset)."},
    {"physics_step", as_cfunction(method<Exclusive, &STEP_SIGNATURE, vecenv_physics_step>),
     FASTCALL,
     "physics_step($self, actions)\n--\n\n"
     "Advance all envs by `tick_skip` physics ticks using already-parsed engine\n"
     "actions `(N, P, 3)` = (dx, dy, kick). No reward, no obs, no auto-reset.\n"
     "Returns `scored` `(N,)` i8: -1 if no goal this step, else the conceding team."},
    {"snapshot", as_cfunction(method_noargs<Shared, vecenv_snapshot>), METH_NOARGS,
     "snapshot($self)\n--\n\n"
     "Read the current batched state without stepping. Returns\n"
     "`(ball_pos (N,2), ball_vel (N,2), player_pos (N,P,2), player_vel (N,P,2), steps (N,))`."},
    {"set_state", as_cfunction(method<Exclusive, &SET_STATE_SIGNATURE, vecenv_set_state>), FASTCALL,
     "set_state($self, ball_pos, ball_vel, player_pos, player_vel, steps=None)\n--\n\n"
     "Place an arbitrary state into every env: the exact inverse of `snapshot`.\n"
     "Writes ball + player positions/velocities from `(N,2)`/`(N,P,2)` arrays; the\n"
     "step counter is set from `steps` (or reset to 0). Scores are left untouched\n"
     "(they're not part of the observed state). This is the engine primitive behind\n"
     "arbitrary `StateMutator`s \u2014 random kickoffs, scenario drills, replay states \u2014\n"
     "so episodes no longer have to begin from the fixed kickoff."},
    {"set_kick_rate_limit", as_cfunction(method<Exclusive, &RATE_SIGNATURE, vecenv_set_kick_rate_limit>),
     FASTCALL,
     "set_kick_rate_limit($self, min, cost, cap)\n--\n\n"
     "Set the kickRateLimit (min, rate-cost, burst-cap) for every env. Mirrors a\n"
     "Vexlo room's `setKickRateLimit`; needed to re-simulate replays from rooms that\n"
     "changed it (e.g. the Orlo ladder uses min=6). Default is min=2."},
    {"set_player_cmask", as_cfunction(method<Exclusive, &CMASK_SIGNATURE, vecenv_set_player_cmask>),
     FASTCALL,
     "set_player_cmask($self, mask)\n--\n\n"
     "Set every player disc's collision mask (cMask). Used to enable/disable the kickoff\n"
     "barrier: during a kickoff the non-kicking team is held behind the centre semicircle\n"
     "by collision flags (cMask `39 | <kicking team's KO group>`); after the ball is\n"
     "touched it reverts to the normal `39`. Re-sim only \u2014 training kicks off via the env."},
    {"save_state", as_cfunction(method<Shared, &SAVE_STATE_SIGNATURE, vecenv_save_state>), FASTCALL,
     "save_state($self, mask=None)\n--\n\n"
     "The whole changing state of the envs selected by `mask` (`(N,)` bool; None: all)\n"
     "as `bytes`: every disc's position, velocity and collision mask, every player's\n"
     "kick fields, the kick rate limit, phase, goal timer, scores, kickoff team and\n"
     "step counter. Versioned little-endian layout (see README), with a fingerprint\n"
     "of the stadium and team sizes and a checksum."},
    {"load_state", as_cfunction(method<Exclusive, &LOAD_STATE_SIGNATURE, vecenv_load_state>),
     FASTCALL,
     "load_state($self, blob, mask=None)\n--\n\n"
     "Write a `save_state` blob into the envs selected by `mask` (None: all; as many\n"
     "as the blob holds) of a batch of the same stadium and team sizes. Stepping\n"
     "then gives the bits the saved envs would have given. A truncated, damaged,\n"
     "foreign or other-version blob raises ValueError naming what is wrong, and\n"
     "nothing is written."},
    {"digest", as_cfunction(method_noargs<Shared, vecenv_digest>), METH_NOARGS,
     "digest($self)\n--\n\n"
     "A 64-bit hash of each env's whole changing state, `(N,)` u64: equal states give\n"
     "equal digests on any machine and worker count. Not cryptographic: it tells\n"
     "states apart, it does not guard against forgery."},
    {"__reduce__", as_cfunction(method_noargs<Shared, vecenv_reduce>), METH_NOARGS,
     "__reduce__($self)\n--\n\n"
     "Pickle support: the stadium text, sizes, step_limit, tick_skip, the module\n"
     "version and a state blob. Another module version refuses the pickle."},
    {"__setstate__", as_cfunction(method<Exclusive, &SETSTATE_SIGNATURE, vecenv_setstate>),
     FASTCALL,
     "__setstate__($self, state)\n--\n\n"
     "Pickle support: load the (module version, state blob) of `__reduce__`."},
    {"__copy__", as_cfunction(method_noargs<Shared, vecenv_copy>), METH_NOARGS,
     "__copy__($self)\n--\n\n"
     "An independent batch with the same stadium, sizes and state, as `__deepcopy__`:\n"
     "a batch holds no shared objects, and a copy sharing its matches would step both."},
    {"__deepcopy__", as_cfunction(method<Shared, &DEEPCOPY_SIGNATURE, vecenv_deepcopy>),
     FASTCALL,
     "__deepcopy__($self, memo)\n--\n\n"
     "An independent batch with the same stadium, sizes and state."},
    {"kick_state", as_cfunction(method_noargs<Shared, vecenv_kick_state>), METH_NOARGS,
     "kick_state($self)\n--\n\n"
     "Debug: per-player kick state `(flag, cooldown)` for env 0 \u2014 `(P,)` each."},
    {"teams", as_cfunction(method_noargs<Shared, vecenv_teams>), METH_NOARGS,
     "teams($self)\n--\n\n"
     "Static team flag per player slot, `(N, P)` i64 (RED/BLUE)."},
    {"goals", as_cfunction(method_noargs<Shared, vecenv_goals>), METH_NOARGS,
     "goals($self)\n--\n\n"
     "The stadium's goal lines (same for every env). Returns\n"
     "`(p0 (G,2), p1 (G,2), team (G,))` where `team` is the side that DEFENDS /\n"
     "concedes at that goal. Geometry comes from the stadium, not hardcoded \u2014 so\n"
     "obs/reward target the real goal mouth on any map."},
    {"wall_segments", as_cfunction(method_noargs<Shared, vecenv_wall_segments>), METH_NOARGS,
     "wall_segments($self)\n--\n\n"
     "Ball-colliding WALLS as straight line segments `[x0,y0,x1,y1]`, shape (M, 4): each\n"
     "straight segment the ball hits, plus every ball-colliding boundary PLANE rendered as a\n"
     "long segment. Curved segments are omitted HERE only (this obs helper raycasts straight\n"
     "lines) \u2014 the physics DOES resolve them. Static per stadium; lets a map-agnostic obs\n"
     "raycast the REAL geometry on ANY map (so the bot can read rebounds / pin for rockets)."},
    {"obstacle_discs", as_cfunction(method_noargs<Shared, vecenv_obstacle_discs>), METH_NOARGS,
     "obstacle_discs($self)\n--\n\n"
     "Static OBSTACLE discs as `[x, y, radius]`, shape (D, 3) \u2014 the goal POSTS (and any other\n"
     "fixed discs the ball collides with). The ball/players bounce off these, so an obs that\n"
     "can't see them lets the bot get blocked by a post while chasing. Static per stadium;\n"
     "the ball/players themselves are dynamic and already in the obs, so they're excluded."},
    {"predict_ball", as_cfunction(method<Shared, &PREDICT_SIGNATURE, vecenv_predict_ball>),
     FASTCALL,
     "predict_ball($self, offsets)\n--\n\n"
     "Deterministic ball-trajectory prediction (players ignored): future ball positions at\n"
     "the given ascending tick `offsets`, shape `(N, K, 2)`. Lets a map-agnostic obs feed the\n"
     "policy \"where the ball will be\" \u2014 lookahead a tiny memoryless net can't learn implicitly,\n"
     "and exactly what's needed to read wall/corner rebounds. Exact until a player touches it."},
    {"team_observation",
     as_cfunction(method<Shared, &TEAM_OBSERVATION_SIGNATURE, vecenv_team_observation>), FASTCALL,
     "team_observation($self, ball_pos, ball_vel, player_pos, player_vel, slots, pos_mul,\n"
     "                 vel_mul, pos_off, opp_goal, mirror, offsets, out=None)\n--\n\n"
     "The default team observation (`vexlo.TeamObservation`) of the given state, float32\n"
     "`(N, 4*len(slots) + 8 + 2*len(offsets))`, written into `out` when given (then returned).\n"
     "Positions map as the complex `z * pos_mul - pos_off`, velocities as `z * vel_mul`\n"
     "(NumPy's complex128 arithmetic, `pos_off`/`opp_goal` as (re, im)), conjugated when\n"
     "`mirror`. Rows: ball, ball velocity, each slot's position and velocity, ball minus\n"
     "`slots[0]`, `opp_goal` minus ball, then this batch's ball after each offset (as\n"
     "`predict_ball`)."},
    {"step_observe", as_cfunction(method<Exclusive, &STEP_OBSERVE_SIGNATURE, vecenv_step_observe>),
     FASTCALL,
     "step_observe($self, actions, restart, frames, offsets)\n--\n\n"
     "`physics_step(actions)`, then `reset_mask(restart)` (`None`: no restart), then\n"
     "`snapshot()` and, for each frame `(slots, pos_mul, vel_mul, pos_off, opp_goal, mirror)`\n"
     "of `frames`, `team_observation(*snapshot[:4], *frame, offsets)`, in one pass over the\n"
     "environments and with one ball prediction, with the same bits. Returns `(scored,\n"
     "ball_pos, ball_vel, player_pos, player_vel, steps, obs)`, `obs` float32\n"
     "`(len(frames), N, width)`; the frames must list equally many slots. An interrupt\n"
     "during a long prediction raises after the step and the restarts have happened."},
    {"team_inputs", as_cfunction(method<Shared, &TEAM_INPUTS_SIGNATURE, vecenv_team_inputs>),
     FASTCALL,
     "team_inputs($self, digits, slots, mirror, kick_value, out)\n--\n\n"
     "One team's action digits as engine inputs, written in place into `out` `(N, P, 3)`\n"
     "i64 (the array `physics_step` takes). `digits` `(N, 3*len(slots))` i64 holds\n"
     "(dx, dy, kick) per slot of `slots`: dx, dy in 0..2 for -1, 0, +1 (dx the other\n"
     "way round when `mirror`), kick in 0..1 for 0 or `kick_value` (1: kick once per\n"
     "press, 2: re-arm every tick). Every digit is checked first; returns False,\n"
     "writing nothing, if one is out of range, else writes the rows of `slots` (the\n"
     "others are left as they are) and returns True. Digits of another dtype raise\n"
     "TypeError: they are not converted."},
    {"rollout_bench", as_cfunction(method<Exclusive, &BENCH_SIGNATURE, vecenv_rollout_bench>),
     FASTCALL,
     "rollout_bench($self, n_steps)\n--\n\n"
     "Benchmark: run `n_steps` ticks of every env entirely in native code, with no "
     "Python in the loop; returns the number of ticks simulated."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef PROPERTIES[] = {
    {"n_envs", property<vecenv_n_envs>, nullptr, nullptr, nullptr},
    {"n_players", property<vecenv_n_players>, nullptr, nullptr, nullptr},
    {"obs_dim", property<vecenv_obs_dim>, nullptr, nullptr, nullptr},
    {"player_max_speed", property<vecenv_player_max_speed>, nullptr,
     "Player max speed used to normalize velocity rewards: accel*damping/(1-accel).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

}  // namespace

// The header macro fills the object head; every slot is set in
// init_vecenv_type, the rest stay zero.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"
PyTypeObject VecEnvType = {PyVarObject_HEAD_INIT(nullptr, 0)};
#pragma GCC diagnostic pop

int init_vecenv_type() {
    VecEnvType.tp_name = "vexlo_core.VecEnv";
    VecEnvType.tp_basicsize = sizeof(VecEnvObject);
    VecEnvType.tp_itemsize = 0;
    VecEnvType.tp_dealloc = dealloc;
    // No Py_TPFLAGS_BASETYPE: the class cannot be subclassed. No dictionary
    // or weak-reference offsets: instances take no attributes and no weakrefs.
    VecEnvType.tp_flags = Py_TPFLAGS_DEFAULT;
    VecEnvType.tp_doc = "VecEnv(n_envs, n_red, n_blue, step_limit=2400, tick_skip=8)\n--\n\n";
    VecEnvType.tp_methods = METHODS;
    VecEnvType.tp_getset = PROPERTIES;
    VecEnvType.tp_new = new_guarded;
    return PyType_Ready(&VecEnvType);
}

}  // namespace vexlo::py
