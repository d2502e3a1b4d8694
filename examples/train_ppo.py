"""Train a PPO agent (Stable-Baselines3, PyTorch on the CPU) to score in 1v1
against a still opponent.

    pip install ".[train]"
    python examples/train_ppo.py [--steps 3000000] [--target 0.9] [--envs 64] [--seed 0] [--out runs/ppo]

The agent plays red in ``vexlo.VectorEnv`` batches (through
``vexlo.sb3.VexloVecEnv``) with the default observation, a shaped reward
(goal +-1 plus potential-based terms for moving towards the ball and the ball
towards the goal) and half of the episodes starting from random positions.
Training stops after ``--steps`` environment steps, or earlier once a
rollout's goal rate reaches ``--target``: a run depends on its seed only, not
on the machine's speed. A progress bar shows when ``tqdm`` is installed.

Writes ``model.zip``, ``summary.txt``, ``agent.gif``, ``agent.html`` and, with
matplotlib, ``learning_curve.png`` into ``--out`` (``runs/`` is ignored by
git) and prints the goal rate before and after training: the share of
evaluation episodes (1024 random starts, up to 2400 ticks each) that the agent
ends by scoring.
"""

from __future__ import annotations

import argparse
import os
import time
from typing import Callable

import numpy as np
import torch
from stable_baselines3 import PPO
from stable_baselines3.common.vec_env import VecMonitor

import vexlo
from vexlo.sb3 import GoalRate, VexloVecEnv


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


def plot(curve: list[tuple[int, float, int]], path: str) -> bool:
    """The goal rate per rollout, if matplotlib is installed."""
    try:
        import matplotlib
    except ImportError:
        return False
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, ax = plt.subplots(figsize=(7, 4))
    ax.plot([c[0] for c in curve], [100 * c[1] for c in curve], lw=1.5)
    ax.set_xlabel("environment steps (8 physics ticks each)")
    ax.set_ylabel("episodes ended by an agent goal (%)")
    ax.set_title("PPO, 1v1 against a still opponent")
    ax.set_ylim(0, 100)
    ax.grid(alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=120)
    plt.close(fig)
    return True


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--steps", type=int, default=3_000_000, help="environment steps to train at most")
    parser.add_argument("--target", type=float, default=None,
                        help="stop once a rollout's goal rate reaches this share (0..1)")
    parser.add_argument("--envs", type=int, default=64)
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--out", default=os.path.join("runs", "ppo"))
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    torch.set_num_threads(2)

    venv = VecMonitor(VexloVecEnv(args.envs, reward=vexlo.ShapedReward(),
                                  kickoff=vexlo.RandomKickoff(probability=0.5)))
    venv.seed(args.seed)
    model = PPO("MlpPolicy", venv, n_steps=256, batch_size=2048, n_epochs=4, learning_rate=3e-4,
                gamma=0.99, gae_lambda=0.95, ent_coef=0.01, seed=args.seed, verbose=0,
                policy_kwargs={"net_arch": [64, 64]}, device="cpu")

    def act(obs: np.ndarray) -> np.ndarray:
        return model.predict(obs, deterministic=True)[0]

    before, before_len = goal_rate(act)
    print(f"goal rate before training: {before:.1%} (mean episode {before_len:.0f} steps)", flush=True)

    progress = GoalRate(args.steps, target=args.target)
    start = time.monotonic()
    model.learn(total_timesteps=args.steps, callback=progress)
    wall = time.monotonic() - start
    model.save(os.path.join(args.out, "model.zip"))

    after, after_len = goal_rate(act)
    reached = " (target reached)" if progress.reached else ""
    print(f"trained {model.num_timesteps:,d} steps in {wall / 60:.1f} min{reached}")
    print(f"goal rate after training: {after:.1%} (mean episode {after_len:.0f} steps)")

    written = ["model.zip", "summary.txt", "agent.gif", "agent.html"]
    if plot(progress.curve, os.path.join(args.out, "learning_curve.png")):
        written.append("learning_curve.png")
    show = vexlo.VectorEnv(1, render_mode="rgb_array")
    frames = vexlo.record_episode(show, act, seed=0)
    vexlo.save_gif(frames, os.path.join(args.out, "agent.gif"), fps=show.metadata["render_fps"])
    vexlo.save_html(frames, os.path.join(args.out, "agent.html"), fps=show.metadata["render_fps"],
                    title="PPO agent, 1v1 against a still opponent")
    with open(os.path.join(args.out, "summary.txt"), "w") as fh:
        fh.write(f"seed {args.seed}\nsteps {model.num_timesteps}\nminutes {wall / 60:.2f}\n"
                 f"goal_rate_before {before:.4f}\ngoal_rate_after {after:.4f}\n"
                 f"kickoff_episode_steps {len(frames) - 1}\n")
    print(f"wrote {', '.join(written)} into {args.out}")


if __name__ == "__main__":
    main()
