"""The environments against their libraries' own checkers, and the PettingZoo
environment's match semantics."""

import warnings

import gymnasium as gym
import numpy as np
import pytest
from gymnasium.utils.env_checker import check_env
from pettingzoo.test import parallel_api_test, parallel_seed_test

import vexlo


@pytest.mark.parametrize("kwargs", [{}, {"team": "blue", "kickoff": vexlo.RandomKickoff(ball_speed=3.0)}])
def test_gymnasium_check_env(kwargs, x_display):  # the checker opens every render mode
    env = gym.make("vexlo/Vexlo-v0", render_mode="rgb_array", **kwargs)
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # any complaint of the checker fails the test
        check_env(env.unwrapped)


@pytest.mark.parametrize("teams", [(1, 1), (2, 2)])
def test_pettingzoo_parallel_api(teams):
    parallel_api_test(vexlo.ParallelEnv(*teams, step_limit=400), num_cycles=120)


def test_pettingzoo_seed_test():
    parallel_seed_test(lambda: vexlo.ParallelEnv(1, 1, kickoff=vexlo.RandomKickoff(ball_speed=2.0)),
                       num_cycles=60)


class TestParallelEnv:
    def test_agents_and_spaces(self):
        env = vexlo.ParallelEnv(2, 1)
        assert env.possible_agents == ["red_0", "red_1", "blue_0"]
        assert env.action_space("blue_0").nvec.tolist() == [3, 3, 2]
        assert env.observation_space("red_1").shape == (vexlo.obs_size(3, 1),)
        obs, infos = env.reset(seed=0)
        assert set(obs) == set(infos) == set(env.possible_agents)
        assert env.state().shape == env.state_space.shape

    def test_each_agent_sees_itself_first_in_its_own_view(self):
        env = vexlo.ParallelEnv(1, 1)
        obs, _ = env.reset(seed=0)
        # The kickoff is mirror-symmetric, so both sides see the same thing.
        np.testing.assert_array_equal(obs["red_0"], obs["blue_0"])
        obs, *_ = env.step({"red_0": np.array([2, 1, 0]), "blue_0": np.array([1, 1, 0])})
        # Red runs at blue's goal: forwards in its own view, backwards in blue's.
        assert obs["red_0"][6] > 0 and obs["blue_0"][10] == -obs["red_0"][6]
        assert obs["blue_0"][6] == 0 and obs["red_0"][10] == 0

    def test_blue_action_is_mirrored(self):
        env = vexlo.ParallelEnv(1, 1)
        env.reset(seed=0)
        env.step({"blue_0": np.array([2, 1, 0])})
        vel = env.match_state.player_vel[0]
        assert vel[1, 0] < 0 and not vel[0].any()

    @pytest.mark.parametrize("actions,error,shown", [
        ({"red_0": [1, 1, 2]}, ValueError, "red_0"), ({"blue_0": [1.5, 1, 0]}, ValueError, "1.5"),
        ({"red_9": [1, 1, 0]}, ValueError, "red_9"), ({"blue_0": [1, 1]}, ValueError, "(3,)"),
        ([[1, 1, 0], [1, 1, 0]], TypeError, "dict")])
    def test_bad_actions_are_refused(self, actions, error, shown):
        env = vexlo.ParallelEnv(1, 1, rearm_kick=False)
        env.reset(seed=0)
        with pytest.raises(error) as info:
            env.step(actions)
        assert shown in str(info.value)
        assert env.core.snapshot()[4].tolist() == [0]

    def test_goal_ends_the_episode_for_everyone(self):
        env = vexlo.ParallelEnv(1, 1)
        env.reset(seed=0)
        state = vexlo.State.read(env.core)
        state.ball_pos[0] = (-360.0, 0.0)
        state.ball_vel[0] = (-6.0, 0.0)
        state.write(env.core)
        env.match_state = vexlo.State.read(env.core)
        _, rew, term, trunc, info = env.step({})
        assert rew == {"red_0": -1.0, "blue_0": 1.0}
        assert info == {"red_0": {"goal": False, "conceded": True, "episode": {"r": -1.0, "l": 1}},
                        "blue_0": {"goal": True, "conceded": False, "episode": {"r": 1.0, "l": 1}}}
        assert term == {"red_0": True, "blue_0": True} and not any(trunc.values())
        assert env.agents == []

    def test_self_play_with_one_policy(self):
        env = vexlo.ParallelEnv(1, 1)
        obs, _ = env.reset(seed=0)
        chase = vexlo.ChaseBall()
        total = {a: 0.0 for a in env.possible_agents}
        for _ in range(400):
            if not env.agents:
                break
            acts = {a: chase(obs[a][None])[0] for a in env.agents}
            obs, rew, *_ = env.step(acts)
            for a, r in rew.items():
                total[a] += r
        assert env.agents == [] and abs(sum(total.values())) < 1e-12
