"""The Stable-Baselines3 bridge, vexlo.sb3."""

import warnings

import numpy as np
import pytest

import vexlo

pytest.importorskip("torch")
sb3 = pytest.importorskip("stable_baselines3")
from stable_baselines3.common.env_checker import check_env  # noqa: E402
from stable_baselines3.common.vec_env import VecMonitor, VecNormalize  # noqa: E402

from vexlo.sb3 import GoalRate, VexloVecEnv  # noqa: E402


def test_single_env_passes_sb3_checker():
    with warnings.catch_warnings():
        warnings.simplefilter("error")  # any complaint of the checker fails the test
        check_env(vexlo.SingleEnv(), warn=True)


@pytest.mark.parametrize("make", [lambda: VexloVecEnv(3, step_limit=40),
                                  lambda: VexloVecEnv(vexlo.SelfPlayEnv(2, step_limit=40, autoreset_mode="SameStep"))])
def test_ended_episodes_carry_terminal_observation_and_statistics(make):
    venv = make()
    venv.seed(5)
    obs = venv.reset()
    ref = vexlo.VectorEnv(3, step_limit=40) if venv.env.__class__ is vexlo.VectorEnv else None
    if ref is not None:
        np.testing.assert_array_equal(obs, ref.reset(seed=5)[0])
    act = np.tile([2, 1, 1], (venv.num_envs, 1))
    total = np.zeros(venv.num_envs)
    for k in range(5):  # 40 ticks: the fifth step truncates
        venv.step_async(act)
        obs, reward, dones, infos = venv.step_wait()
        assert reward.dtype == np.float32
        total += reward
        if ref is not None:
            ref_obs = ref.step(act)[0]
    assert dones.all()
    for i, info in enumerate(infos):
        assert info["episode"] == {"r": total[i], "l": 5}
        assert info["TimeLimit.truncated"] and not info["goal"] and not info["conceded"]
        if ref is not None:
            np.testing.assert_array_equal(info["terminal_observation"], ref_obs[i])
    assert venv.get_attr("step_limit") == [40] * venv.num_envs


def test_next_step_env_is_refused():
    with pytest.raises(ValueError, match="SameStep"):
        VexloVecEnv(vexlo.VectorEnv(2))


def test_ppo_learns_through_vecmonitor_and_vecnormalize_until_the_target():
    venv = VecNormalize(VecMonitor(VexloVecEnv(4, step_limit=64, reward=vexlo.ShapedReward())))
    model = sb3.PPO("MlpPolicy", venv, n_steps=32, batch_size=64, n_epochs=1, seed=0, device="cpu",
                    policy_kwargs={"net_arch": [16]})
    # Any goal rate reaches 0: training stops on the first step after the first rollout.
    progress = GoalRate(1024, target=0.0, verbose=0)
    model.learn(total_timesteps=1024, callback=progress)
    assert progress.curve == [(128, 0.0, 16)] and model.num_timesteps == 132
    assert len(model.ep_info_buffer) == 16 and model.ep_info_buffer[0]["l"] == 8
