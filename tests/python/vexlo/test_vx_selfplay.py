"""Batched self-play: vexlo.SelfPlayEnv against one ParallelEnv per match."""

import numpy as np
import pytest

import vexlo
from vx_helpers import SeparateObservation, assert_same_play, put


def per_match_parallel_envs(n, n_red, n_blue, **kwargs):
    envs = [vexlo.ParallelEnv(n_red, n_blue, **kwargs) for _ in range(n)]
    return envs, [e.reset(seed=0)[0] for e in envs]


@pytest.mark.parametrize("teams", [(1, 1), (2, 1)])
def test_every_agent_plays_as_the_same_player_of_a_parallel_env(teams):
    # ParallelEnv is checked against PettingZoo's own tests: each agent's view,
    # action mirroring and reward of the batch must be exactly its.
    n, p = 3, sum(teams)
    env = vexlo.SelfPlayEnv(n, *teams, step_limit=10_000)
    assert env.num_envs == n * p and env.single_action_space.nvec.tolist() == [3, 3, 2]
    ref, ref_obs = per_match_parallel_envs(n, *teams, step_limit=10_000)
    names = ref[0].possible_agents
    assert env.possible_agents == names
    obs, _ = env.reset(seed=0)
    if teams == (1, 1):  # the kickoff is mirror-symmetric: both sides see the same
        np.testing.assert_array_equal(obs[0::2], obs[1::2])
    rng = np.random.default_rng(1)
    for _ in range(60):
        expected = np.stack([o[a] for o in ref_obs for a in names])
        np.testing.assert_array_equal(obs, expected)
        act = rng.integers(0, [3, 3, 2], size=(n * p, 3))
        act[env.agent_rows(names[-1])] = vexlo.ChaseBall(n_total=p)(obs[env.agent_rows(names[-1])])
        obs, reward, term, trunc, _ = env.step(act)
        outs = [e.step({a: act[m * p + j] for j, a in enumerate(names)}) for m, e in enumerate(ref)]
        ref_obs = [o[0] for o in outs]
        np.testing.assert_array_equal(reward, [o[1][a] for o in outs for a in names])
        assert not (term.any() or trunc.any())


@pytest.mark.parametrize("teams, kickoff", [((2, 2), None), ((1, 2), vexlo.OpenKickoff())])
def test_one_engine_call_observes_every_view_as_separate_calls_do(teams, kickoff):
    # Short matches restart on most steps; a kickoff moves them after the step.
    make = lambda fn: vexlo.SelfPlayEnv(24, *teams, step_limit=80, kickoff=kickoff, observation=fn)
    assert_same_play(make(vexlo.TeamObservation((4, 16))), make(SeparateObservation((4, 16))),
                     steps=40, seed=5)


def test_goal_ends_the_whole_match_with_opposite_rewards_and_restarts_it():
    env = vexlo.SelfPlayEnv(2, 1, 1, autoreset_mode="SameStep")
    start, _ = env.reset(seed=0)
    put(env.core, (360.0, 0.0), [(0.0, -100.0), (0.0, 100.0)], ball_vel=(6.0, 0.0), steps=[0, 40])
    env.match_state = vexlo.State.read(env.core)
    obs, reward, term, trunc, info = env.step(np.tile([1, 1, 0], (4, 1)))
    assert reward.tolist() == [1.0, -1.0, 1.0, -1.0] and term.all() and not trunc.any()
    final = info["final_info"]
    assert final["goal"].tolist() == [True, False] * 2 and final["conceded"].tolist() == [False, True] * 2
    assert final["episode"]["l"].tolist() == [1, 1, 1, 1] and final["episode"]["r"].tolist() == reward.tolist()
    np.testing.assert_array_equal(obs, start)  # restarted in the same step
    assert info["final_obs"][1][0] < 0  # blue sees the ball at its own goal, on its left
    assert env.match_state.steps.tolist() == [0, 0]


def test_actions_and_masks_are_checked():
    env = vexlo.SelfPlayEnv(2, 1, 1)
    env.reset(seed=0)
    with pytest.raises(ValueError, match=r"shape \(4, 3\)"):
        env.step(np.ones((2, 6), np.int64))
    with pytest.raises(ValueError, match=r"action 3 at index \(2, 0\)"):
        env.step(np.array([[1, 1, 0], [1, 1, 0], [3, 1, 0], [1, 1, 0]]))
    assert env.match_state.steps.tolist() == [0, 0] and env.core.snapshot()[4].tolist() == [0, 0]
    with pytest.raises(ValueError, match="every agent of a match or none"):
        env.reset(options={"reset_mask": np.array([True, False, False, False])})
    env.step(np.ones((4, 3), np.int64))
    env.reset(options={"reset_mask": np.array([False, False, True, True])})
    assert env.match_state.steps.tolist() == [8, 0]


def test_seeded_kickoffs_are_those_of_the_same_match_in_a_split_batch():
    kick = vexlo.RandomKickoff(ball_speed=3.0)
    whole = vexlo.SelfPlayEnv(4, kickoff=kick, step_limit=24)
    half = vexlo.SelfPlayEnv(2, kickoff=kick, step_limit=24, env_offset=2)
    act = np.random.default_rng(0).integers(0, [3, 3, 2], size=(10, 8, 3))
    a, b = whole.reset(seed=3)[0], half.reset(seed=3)[0]
    first = a.copy()
    for k in range(10):  # through two restarts
        np.testing.assert_array_equal(a[4:], b)
        a, b = whole.step(act[k])[0], half.step(act[k, 4:])[0]
    assert not np.array_equal(whole.reset(seed=4)[0], first)
