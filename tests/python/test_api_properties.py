"""Random sequences of VecEnv calls, valid and not: a refused call changes
nothing, and a batch agrees bit for bit with the same environments run one
at a time."""
import json

import numpy as np
from hypothesis import HealthCheck, settings, strategies as st
from hypothesis.stateful import RuleBasedStateMachine, initialize, invariant, rule

from vexlo_core import VecEnv

# A small box with movable discs, a fixed post, a curved wall and goal lines
# the ball can cross, so that discs collide and goals come within a few calls.
SMALL = json.dumps({
    "spawnDistance": 50,
    "vertexes": [{"x": -120, "y": -60}, {"x": 120, "y": -60}, {"x": 120, "y": 60},
                 {"x": -120, "y": 60}],
    "segments": [{"v0": 0, "v1": 1, "cMask": ["ball"]},
                 {"v0": 2, "v1": 3, "curve": 40, "cMask": ["ball"], "bCoef": 0.9}],
    "planes": [{"normal": [1, 0], "dist": -135}, {"normal": [-1, 0], "dist": -135},
               {"normal": [0, 1], "dist": -70}, {"normal": [0, -2], "dist": -70}],
    "goals": [{"p0": [-120, -25], "p1": [-120, 25], "team": "red"},
              {"p0": [120, -25], "p1": [120, 25], "team": "blue"}],
    "discs": [{"pos": [0, 30], "radius": 8, "invMass": 1.5, "damping": 0.97},
              {"pos": [40, -30], "radius": 5, "invMass": 0.5, "cGroup": ["ball"], "cMask": ["all"]},
              {"pos": [-120, 25], "radius": 4, "invMass": 0}],
    "redSpawnPoints": [[-60, 0], [-60, 30]],
    "blueSpawnPoints": [[60, 0]],
    "ballPhysics": {"radius": 6, "damping": 0.995},
})
STADIUMS = [(None, 1, 1), (None, 2, 2), (SMALL, 1, 2)]

I64_EDGES = [2**63 - 1, -(2**63)]


def build(stadium, n_envs, n_red, n_blue, tick_skip):
    if stadium is None:
        return VecEnv(n_envs, n_red, n_blue, tick_skip=tick_skip)
    return VecEnv.from_vxs(stadium, n_envs, n_red, n_blue, tick_skip=tick_skip)


def relayout(a, how):
    """The same values in another memory layout, read in place by the callee."""
    if how == "fortran":
        return np.asfortranarray(a)
    if how == "strided":
        big = np.zeros(tuple(2 * s + 1 for s in a.shape), a.dtype)
        view = big[tuple(slice(1, None, 2) for _ in a.shape)]
        view[...] = a
        return view
    if how == "reversed" and a.ndim > 0:
        return a[::-1].copy()[::-1]
    return a


LAYOUTS = st.sampled_from(["c", "fortran", "strided", "reversed"])


def state_bytes(env):
    return [a.tobytes() for a in env.snapshot() + env.kick_state()]


class Reentrant:
    """An integer whose conversion calls back into the VecEnv being called."""

    def __init__(self, callback):
        self.callback = callback

    def __index__(self):
        self.callback()
        return 1


class VecEnvCalls(RuleBasedStateMachine):
    @initialize(stadium=st.sampled_from(STADIUMS), n_envs=st.integers(1, 10),
                tick_skip=st.sampled_from([1, 3, 8]))
    def build(self, stadium, n_envs, tick_skip):
        text, n_red, n_blue = stadium
        self.batch = build(text, n_envs, n_red, n_blue, tick_skip)
        self.singles = [build(text, 1, n_red, n_blue, tick_skip) for _ in range(n_envs)]
        self.n, self.p = n_envs, n_red + n_blue
        self.teams = [2] * n_red + [4] * n_blue

    def refused(self, error, call):
        before = state_bytes(self.batch)
        try:
            call()
        except error:
            pass
        else:
            raise AssertionError(f"accepted where {error.__name__} was expected")
        assert state_bytes(self.batch) == before


    # --- accepted calls -----------------------------------------------------

    def step_both(self, a, layout="c"):
        scored = self.batch.physics_step(relayout(a, layout))
        expected = [s.physics_step(a[e:e + 1].copy()) for e, s in enumerate(self.singles)]
        assert scored.dtype == np.int8 and scored.tobytes() == np.concatenate(expected).tobytes()
        self.same_as_one_at_a_time()

    @rule(seed=st.integers(0, 2**32 - 1), calls=st.integers(1, 12), layout=LAYOUTS,
          edges=st.booleans())
    def physics_step(self, seed, calls, layout, edges):
        # Each player keeps a heading with some noise, so that balls travel
        # and goals are scored within a few calls.
        rng = np.random.default_rng(seed)
        heading = rng.integers(-1, 2, size=(self.n, self.p, 2))
        for _ in range(calls):
            a = np.empty((self.n, self.p, 3), np.int64)
            noise = rng.integers(-1, 2, size=(self.n, self.p, 2)) * rng.integers(0, 2)
            a[..., :2] = heading + noise
            a[..., 2] = rng.integers(-1, 3, size=(self.n, self.p))
            if edges:
                a.flat[rng.integers(0, a.size, size=2)] = I64_EDGES
            self.step_both(a, layout)

    @rule()
    def reset_all(self):
        assert self.batch.reset_all() is None
        for s in self.singles:
            s.reset_all()

    @rule(mask=st.lists(st.booleans(), min_size=10, max_size=10), layout=LAYOUTS)
    def reset_mask(self, mask, layout):
        m = np.array(mask[:self.n])
        assert self.batch.reset_mask(relayout(m, layout)) is None
        for s, chosen in zip(self.singles, m):
            s.reset_mask(np.array([chosen]))

    @rule(seed=st.integers(0, 2**32 - 1), layout=LAYOUTS, with_steps=st.booleans(),
          ball_at=st.sampled_from(["anywhere", "a goal line"]), crowded=st.booleans())
    def set_state(self, seed, layout, with_steps, ball_at, crowded):
        rng = np.random.default_rng(seed)
        n, p = self.n, self.p
        ball_pos = rng.uniform(-400, 400, (n, 2)) * [1, 0.5]
        p0, p1, _ = self.batch.goals()
        if ball_at == "a goal line":  # a goal is likely within a few ticks
            pick = rng.integers(0, len(p0), n)
            ball_pos = (p0[pick] + p1[pick]) / 2 + rng.uniform(-15, 15, (n, 2))
        # Crowded: the players in touch with the ball and each other.
        player_pos = (ball_pos[:, None] + rng.uniform(-20, 20, (n, p, 2)) if crowded
                      else rng.uniform(-400, 400, (n, p, 2)) * [1, 0.5])
        arrays = [ball_pos, rng.normal(0, 4, (n, 2)), player_pos, rng.normal(0, 3, (n, p, 2))]
        steps = rng.integers(-(2**63), 2**63 - 1, size=n, endpoint=True) if with_steps else None
        if steps is not None:
            arrays.append(steps)
        assert self.batch.set_state(*[relayout(a, layout) for a in arrays]) is None
        for e, s in enumerate(self.singles):
            s.set_state(*[a[e:e + 1].copy() for a in arrays])

    @rule(values=st.tuples(*[st.one_of(st.integers(-3, 12), st.sampled_from(I64_EDGES))] * 3))
    def set_kick_rate_limit(self, values):
        assert self.batch.set_kick_rate_limit(*values) is None
        for s in self.singles:
            s.set_kick_rate_limit(*values)

    @rule(mask=st.one_of(st.sampled_from([0, 39, 47, 55, 63, -1] + I64_EDGES), st.integers(0, 255)),
          then_step=st.booleans())
    def set_player_cmask(self, mask, then_step):
        assert self.batch.set_player_cmask(mask) is None
        for s in self.singles:
            s.set_player_cmask(mask)
        if then_step:  # the mask holds for the next tick only
            self.step_both(np.zeros((self.n, self.p, 3), np.int64))

    @rule(n_steps=st.integers(0, 12))
    def rollout_bench(self, n_steps):
        assert self.batch.rollout_bench(n_steps) == self.n * n_steps
        for s in self.singles:
            assert s.rollout_bench(n_steps) == n_steps

    @rule(offsets=st.lists(st.integers(0, 60), max_size=5), as_array=st.booleans())
    def predict_ball(self, offsets, as_array):
        arg = np.array(offsets, np.uint64) if as_array else offsets
        got = self.batch.predict_ball(arg)
        assert got.dtype == np.float64 and got.shape == (self.n, len(offsets), 2)
        want = np.concatenate([s.predict_ball(offsets) for s in self.singles])
        assert got.tobytes() == want.tobytes()

    @rule()
    def env_zero_queries(self):
        first = self.singles[0]
        for method in ("kick_state", "goals", "wall_segments", "obstacle_discs"):
            got = getattr(self.batch, method)()
            want = getattr(first, method)()
            got, want = (got, want) if isinstance(got, tuple) else ((got,), (want,))
            assert [(a.dtype, a.shape, a.tobytes()) for a in got] == \
                   [(a.dtype, a.shape, a.tobytes()) for a in want], method

    @rule()
    def properties_and_teams(self):
        b = self.batch
        assert (b.n_envs, b.n_players, b.obs_dim) == (self.n, self.p, 4 * self.p + 8)
        assert b.player_max_speed == self.singles[0].player_max_speed
        assert b.teams().tolist() == [self.teams] * self.n

    @rule(source=st.integers(0, 9), into=st.integers(0, 9), layout=LAYOUTS)
    def save_and_load_state(self, source, into, layout):
        # An environment's blob is its single twin's blob; loaded elsewhere,
        # it makes that environment the twin's copy, hidden state included.
        source, into = source % self.n, into % self.n
        one_hot = lambda e: relayout(np.arange(self.n) == e, layout)
        blob = self.batch.save_state(one_hot(source))
        assert blob == self.singles[source].save_state()
        assert self.batch.load_state(blob, one_hot(into)) is None
        self.singles[into].load_state(blob)

    @invariant()
    def same_as_one_at_a_time(self):
        got = self.batch.snapshot()
        want = [np.concatenate(parts) for parts in zip(*(s.snapshot() for s in self.singles))]
        assert [(a.dtype, a.shape, a.tobytes()) for a in got] == \
               [(a.dtype, a.shape, a.tobytes()) for a in want]
        assert self.batch.digest().tolist() == [s.digest()[0] for s in self.singles]

    # --- refused calls ------------------------------------------------------

    @rule(cut=st.integers(1, 64), flip=st.booleans())
    def load_state_refused(self, cut, flip):
        blob = bytearray(self.batch.save_state())
        if flip:
            blob[-cut] ^= 0x40
        else:
            del blob[-cut:]
        self.refused(ValueError, lambda: self.batch.load_state(bytes(blob)))
        self.refused(ValueError, lambda: self.batch.load_state(self.singles[0].save_state(),
                                                               np.ones(self.n + 1, bool)))

    @rule(kind=st.sampled_from(["float64", "int32", "uint64", "ndim", "list", "shape", "n_envs"]))
    def physics_step_refused(self, kind):
        a = np.ones((self.n, self.p, 3), np.int64)
        arg, error = {
            "float64": (a.astype(np.float64), TypeError), "int32": (a.astype(np.int32), TypeError),
            "uint64": (a.astype(np.uint64), TypeError), "ndim": (a.reshape(self.n, -1), TypeError),
            "list": (a.tolist(), TypeError), "shape": (a[..., :2], ValueError),
            "n_envs": (np.ones((self.n + 1, self.p, 3), np.int64), ValueError)}[kind]
        self.refused(error, lambda: self.batch.physics_step(arg))

    @rule(kind=st.sampled_from(["int64", "list", "ndim", "longer", "empty"]))
    def reset_mask_refused(self, kind):
        m = np.ones(self.n, bool)
        arg, error = {
            "int64": (m.astype(np.int64), TypeError), "list": (m.tolist(), TypeError),
            "ndim": (m[None], TypeError), "longer": (np.ones(self.n + 1, bool), ValueError),
            "empty": (np.ones(0, bool), ValueError)}[kind]
        self.refused(error, lambda: self.batch.reset_mask(arg))

    @rule(position=st.integers(0, 4),
          kind=st.sampled_from(["float32", "list", "ndim", "rows", "columns", "int32"]))
    def set_state_refused(self, position, kind):
        args = [np.full(a.shape, 7.0) for a in self.batch.snapshot()[:4]]
        args.append(np.zeros(self.n, np.int64))
        good = args[position]
        bad, error = {
            "float32": (good.astype(np.float32), TypeError), "list": (good.tolist(), TypeError),
            "ndim": (good[None], TypeError), "rows": (np.concatenate([good, good[:1]]), ValueError),
            "columns": (good[..., :1], ValueError),
            "int32": (good.astype(np.int32), TypeError)}[kind]
        if position == 4 and kind == "columns":
            bad, error = good[:0], ValueError
        args[position] = bad
        self.refused(error, lambda: self.batch.set_state(*args))

    @rule(position=st.integers(0, 2),
          bad=st.sampled_from([(2**63, OverflowError), (-(2**63) - 1, OverflowError),
                               (1.5, TypeError), ("1", TypeError), (None, TypeError)]))
    def set_kick_rate_limit_refused(self, position, bad):
        args = [9, 9, 9]
        args[position] = bad[0]
        self.refused(bad[1], lambda: self.batch.set_kick_rate_limit(*args))

    @rule(bad=st.sampled_from([(2**63, OverflowError), (39.0, TypeError), (None, TypeError)]))
    def set_player_cmask_refused(self, bad):
        self.refused(bad[1], lambda: self.batch.set_player_cmask(bad[0]))

    @rule(bad=st.sampled_from([(-1, OverflowError), (2**64, OverflowError), (2.0, TypeError),
                               (None, TypeError)]))
    def rollout_bench_refused(self, bad):
        self.refused(bad[1], lambda: self.batch.rollout_bench(bad[0]))

    @rule(bad=st.sampled_from([("12", TypeError), ([1, 2.5], TypeError), ([3, -1], OverflowError),
                               (5, TypeError), ([2**64], OverflowError), (None, TypeError),
                               (np.array([1.0]), TypeError)]))
    def predict_ball_refused(self, bad):
        self.refused(bad[1], lambda: self.batch.predict_ball(bad[0]))

    @rule(which=st.sampled_from(["cmask", "rate", "rollout", "predict"]))
    def conflicting_access_refused(self, which):
        b = self.batch
        if which == "predict":  # shared access, then a writer
            arg = [Reentrant(b.reset_all)]
            self.refused(RuntimeError, lambda: b.predict_ball(arg))
            return
        poke = Reentrant(b.snapshot)  # exclusive access, then a reader
        call = {"cmask": lambda: b.set_player_cmask(poke),
                "rate": lambda: b.set_kick_rate_limit(1, 1, poke),
                "rollout": lambda: b.rollout_bench(poke)}[which]
        self.refused(RuntimeError, call)


VecEnvCalls.TestCase.settings = settings(
    max_examples=100, stateful_step_count=50, deadline=None, derandomize=True, database=None,
    suppress_health_check=[HealthCheck.too_slow])
test_api_calls = VecEnvCalls.TestCase
