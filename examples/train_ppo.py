"""Train a PPO agent (Stable-Baselines3, PyTorch on the CPU) to score in 1v1
against a still opponent.

    pip install ".[train]"
    python examples/train_ppo.py [--minutes 14] [--envs 64] [--out runs/ppo]

The agent plays red in ``vexlo.VectorEnv`` batches with the default
observation, a shaped reward (goal +-1 plus potential-based terms for moving
towards the ball and the ball towards the goal) and half of the episodes
starting from random positions. Training stops when the time budget is spent.

Writes ``learning_curve.png``, ``agent.gif``, ``agent.html`` and ``model.zip``
into ``--out`` and prints the goal rate before and after training: the share of
evaluation episodes (1024 random starts, up to 2400 ticks each) that the agent
ends by scoring.
"""

from __future__ import annotations

import argparse
import os
import time
from typing import Any, Callable

import numpy as np
import torch
from gymnasium.vector import AutoresetMode
from stable_baselines3 import PPO
from stable_baselines3.common.callbacks import BaseCallback
from stable_baselines3.common.vec_env import VecEnv, VecMonitor

import vexlo


class SB3VecEnv(VecEnv):
    """Stable-Baselines3's vectorised-environment interface over a vexlo.VectorEnv.

    Uses same-step autoreset, which is what SB3 expects: the observation of an
    ended environment is already the next episode's first one, and the last
    one travels in ``info["terminal_observation"]``.
    """

    def __init__(self, env: vexlo.VectorEnv) -> None:
        if env.autoreset_mode != AutoresetMode.SAME_STEP:
            raise ValueError("SB3VecEnv needs a VectorEnv with autoreset_mode='SameStep'")
        self.env = env
        super().__init__(env.num_envs, env.single_observation_space, env.single_action_space)
        self._actions: np.ndarray | None = None

    def reset(self) -> np.ndarray:
        seed = self._seeds[0] if self._seeds and self._seeds[0] is not None else None
        obs, _ = self.env.reset(seed=seed)
        self._reset_seeds()
        return obs

    def step_async(self, actions: np.ndarray) -> None:
        self._actions = actions

    def step_wait(self) -> tuple[np.ndarray, np.ndarray, np.ndarray, list[dict[str, Any]]]:
        obs, reward, terminated, truncated, info = self.env.step(self._actions)
        dones = terminated | truncated
        infos: list[dict[str, Any]] = [{} for _ in range(self.num_envs)]
        for i in np.flatnonzero(dones):
            infos[i] = {
                "terminal_observation": info["final_obs"][i],
                "TimeLimit.truncated": bool(truncated[i]),
                # On a scoring step the shaped reward is exactly the goal's +-1.
                "goal": float(reward[i]) if terminated[i] else 0.0,
            }
        return obs, reward.astype(np.float32), dones, infos

    def close(self) -> None:
        self.env.close()

    def get_attr(self, attr_name: str, indices: Any = None) -> list[Any]:
        return [getattr(self.env, attr_name)] * len(self._indices(indices))

    def set_attr(self, attr_name: str, value: Any, indices: Any = None) -> None:
        setattr(self.env, attr_name, value)

    def env_method(self, method_name: str, *args: Any, indices: Any = None, **kwargs: Any) -> list[Any]:
        return [getattr(self.env, method_name)(*args, **kwargs)] * len(self._indices(indices))

    def env_is_wrapped(self, wrapper_class: type, indices: Any = None) -> list[bool]:
        return [False] * len(self._indices(indices))

    def _indices(self, indices: Any) -> list[int]:
        if indices is None:
            return list(range(self.num_envs))
        return [indices] if isinstance(indices, int) else list(indices)


class Progress(BaseCallback):
    """Records the goal rate of each rollout and stops at the time budget."""

    def __init__(self, seconds: float) -> None:
        super().__init__()
        self.deadline = time.monotonic() + seconds
        self.start = time.monotonic()
        self.curve: list[tuple[int, float, float, float]] = []  # steps, seconds, goal rate, episodes
        self._ended = self._goals = 0

    def _on_step(self) -> bool:
        for info in self.locals["infos"]:
            if "goal" in info:
                self._ended += 1
                self._goals += info["goal"] > 0
        return time.monotonic() < self.deadline

    def _on_rollout_end(self) -> None:
        if self._ended:
            rate = self._goals / self._ended
            self.curve.append((self.num_timesteps, time.monotonic() - self.start, rate, self._ended))
            print(f"{self.num_timesteps:>10,d} steps  {time.monotonic() - self.start:6.0f} s  "
                  f"goal rate {rate:6.1%} over {self._ended} episodes", flush=True)
        self._ended = self._goals = 0


def goal_rate(policy: Callable[[np.ndarray], np.ndarray], n_envs: int = 1024, seed: int = 123) -> tuple[float, float]:
    """Share of episodes from random starts that the agent ends by scoring,
    and their mean length in steps (each environment plays one episode)."""
    env = vexlo.VectorEnv(n_envs, kickoff=vexlo.RandomKickoff(), autoreset_mode="Disabled")
    obs, _ = env.reset(seed=seed)
    live = np.ones(n_envs, dtype=bool)
    goals = np.zeros(n_envs, dtype=bool)
    length = np.zeros(n_envs)
    while live.any():
        obs, reward, terminated, truncated, _ = env.step(policy(obs))
        length += live
        goals |= live & terminated & (reward > 0)
        live &= ~(terminated | truncated)
    return float(goals.mean()), float(length.mean())


def plot(curve: list[tuple[int, float, float, float]], path: str) -> None:
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    steps = [c[0] for c in curve]
    rates = [100 * c[2] for c in curve]
    fig, ax = plt.subplots(figsize=(7, 4))
    ax.plot(steps, rates, lw=1.5)
    ax.set_xlabel("environment steps (8 physics ticks each)")
    ax.set_ylabel("episodes ended by an agent goal (%)")
    ax.set_title("PPO, 1v1 against a still opponent")
    ax.set_ylim(0, 100)
    ax.grid(alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=120)
    plt.close(fig)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--minutes", type=float, default=14.0, help="training time budget")
    parser.add_argument("--envs", type=int, default=64)
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--out", default="runs/ppo")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    torch.set_num_threads(2)

    env = vexlo.VectorEnv(args.envs, reward=vexlo.ShapedReward(),
                          kickoff=vexlo.RandomKickoff(probability=0.5), autoreset_mode="SameStep")
    venv = VecMonitor(SB3VecEnv(env))
    venv.seed(args.seed)
    model = PPO("MlpPolicy", venv, n_steps=256, batch_size=2048, n_epochs=4, learning_rate=3e-4,
                gamma=0.99, gae_lambda=0.95, ent_coef=0.01, seed=args.seed, verbose=0,
                policy_kwargs={"net_arch": [64, 64]}, device="cpu")

    def act(obs: np.ndarray) -> np.ndarray:
        return model.predict(obs, deterministic=True)[0]

    before, before_len = goal_rate(act)
    print(f"goal rate before training: {before:.1%} (mean episode {before_len:.0f} steps)", flush=True)

    progress = Progress(args.minutes * 60)
    start = time.monotonic()
    model.learn(total_timesteps=10**10, callback=progress)
    wall = time.monotonic() - start
    model.save(os.path.join(args.out, "model.zip"))

    after, after_len = goal_rate(act)
    print(f"trained {model.num_timesteps:,d} steps in {wall / 60:.1f} min")
    print(f"goal rate after training: {after:.1%} (mean episode {after_len:.0f} steps)")

    plot(progress.curve, os.path.join(args.out, "learning_curve.png"))
    show = vexlo.VectorEnv(1, render_mode="rgb_array")
    frames = vexlo.record_episode(show, act, seed=0)
    vexlo.save_gif(frames, os.path.join(args.out, "agent.gif"), fps=show.metadata["render_fps"])
    vexlo.save_html(frames, os.path.join(args.out, "agent.html"), fps=show.metadata["render_fps"],
                    title="PPO agent, 1v1 against a still opponent")
    with open(os.path.join(args.out, "summary.txt"), "w") as fh:
        fh.write(f"steps {model.num_timesteps}\nminutes {wall / 60:.2f}\n"
                 f"goal_rate_before {before:.4f}\ngoal_rate_after {after:.4f}\n"
                 f"kickoff_episode_steps {len(frames) - 1}\n")
    print(f"wrote {args.out}/learning_curve.png, agent.gif, agent.html, model.zip, summary.txt")


if __name__ == "__main__":
    main()
