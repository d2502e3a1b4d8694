import json

import numpy as np

import vexlo


def put(core, ball_pos, player_pos, ball_vel=(0.0, 0.0), player_vel=None, steps=None):
    """Places the same ball and players into every environment of ``core``."""
    n, p = core.n_envs, core.n_players
    pv = np.zeros((p, 2)) if player_vel is None else np.asarray(player_vel, np.float64)
    vexlo.State(
        np.tile(np.asarray(ball_pos, np.float64), (n, 1)),
        np.tile(np.asarray(ball_vel, np.float64), (n, 1)),
        np.tile(np.asarray(player_pos, np.float64), (n, 1, 1)),
        np.tile(pv, (n, 1, 1)),
        np.zeros(n, np.int64) if steps is None else np.asarray(steps, np.int64),
    ).write(core)


def mixed_policy(n_players_total=2, seed=0):
    """Chases the ball in even environments and acts randomly in odd ones.

    The choice depends only on the observation row, so two implementations fed
    the same observations receive the same actions.
    """
    chase = vexlo.ChaseBall(n_total=n_players_total)
    rng = np.random.default_rng(seed)

    def policy(obs):
        acts = chase(obs)
        noise = rng.integers(0, [3, 3, 2], size=acts.shape)
        acts[1::2] = noise[1::2]
        return acts

    return policy


def shifted_goals_vxs(red_dy, blue_dy):
    """The built-in stadium with each team's goal line moved along y (stadium
    file frame, so the engine sees the goal at -dy)."""
    raw = json.loads(vexlo.CLASSIC_VXS)
    for goal in raw["goals"]:
        dy = red_dy if goal["team"] == "red" else blue_dy
        goal["p0"][1] += dy
        goal["p1"][1] += dy
    return json.dumps(raw)


class SeparateObservation(vexlo.TeamObservation):
    """The default observation under a call of its own: an environment then
    observes after stepping instead of in the step's engine call."""

    def __call__(self, view, state):
        return super().__call__(view, state)


def assert_same_play(joined, apart, steps, seed):
    """Both environments, reset alike, give the same bits for ``steps`` random steps."""
    joined.reset(seed=seed)
    apart.reset(seed=seed)
    assert joined._fused_observation is not None and apart._fused_observation is None
    rng = np.random.default_rng(seed)
    nvec = joined.single_action_space.nvec
    for _ in range(steps):
        a = rng.integers(0, nvec, size=(joined.num_envs, nvec.size))
        got, want = joined.step(a), apart.step(a)
        for x, y in zip(got[:4], want[:4]):
            assert x.tobytes() == y.tobytes()
        assert got[4].keys() == want[4].keys()
    np.testing.assert_array_equal(joined.core.digest(), apart.core.digest())
