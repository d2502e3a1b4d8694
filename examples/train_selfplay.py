"""Train one PPO policy (Stable-Baselines3, CPU) by self-play: it plays every
player of both teams in a batch of matches.

    pip install ".[train]"
    python examples/train_selfplay.py [--steps 5000000] [--matches 32] [--red 2] [--blue 2] [--seed 0]
                                      [--out runs/selfplay]

``vexlo.SelfPlayEnv`` makes each player of ``--matches`` matches an agent that
sees the match in its own team's mirrored view, so the one policy is fed both
sides at once, and ``vexlo.sb3.VexloVecEnv`` hands the whole batch to PPO.
Training stops after ``--steps`` agent steps (the run depends on its seed
only). Before and after, the policy plays red against ``vexlo.ChaseBall``
for one episode in each of 256 matches; the script prints how many it won
and lost, and saves the model into ``--out``.
"""

from __future__ import annotations

import argparse
import os

import numpy as np
import torch
from stable_baselines3 import PPO
from stable_baselines3.common.vec_env import VecMonitor

import vexlo
from vexlo.sb3 import GoalRate, VexloVecEnv


def against_chaser(model: PPO, n_red: int, n_blue: int, n_envs: int = 256, seed: int = 7) -> tuple[float, float]:
    """Shares of episodes the policy, as red's first player, wins and loses
    against a ball-chasing blue team (its teammates stand still)."""
    env = vexlo.VectorEnv(n_envs, n_red, n_blue, autoreset_mode="Disabled",
                          opponent=vexlo.ChaseBall(n_total=n_red + n_blue, n_players=n_blue))
    obs, _ = env.reset(seed=seed)
    live = np.ones(n_envs, dtype=bool)
    won = np.zeros(n_envs, dtype=bool)
    lost = np.zeros(n_envs, dtype=bool)
    still = np.tile([1, 1, 0], (n_envs, n_red - 1))
    while live.any():
        first = model.predict(obs, deterministic=True)[0]
        obs, reward, terminated, truncated, _ = env.step(np.concatenate([first, still], axis=1))
        won |= live & terminated & (reward > 0)
        lost |= live & terminated & (reward < 0)
        live &= ~(terminated | truncated)
    return float(won.mean()), float(lost.mean())


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--steps", type=int, default=5_000_000, help="agent steps to train")
    parser.add_argument("--matches", type=int, default=32)
    parser.add_argument("--red", type=int, default=2)
    parser.add_argument("--blue", type=int, default=2)
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--out", default=os.path.join("runs", "selfplay"))
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    torch.set_num_threads(2)

    env = vexlo.SelfPlayEnv(args.matches, args.red, args.blue, reward=vexlo.ShapedReward(),
                            kickoff=vexlo.RandomKickoff(probability=0.5), autoreset_mode="SameStep")
    venv = VecMonitor(VexloVecEnv(env))
    venv.seed(args.seed)
    model = PPO("MlpPolicy", venv, n_steps=128, batch_size=2048, n_epochs=4, learning_rate=3e-4,
                ent_coef=0.01, seed=args.seed, verbose=0, policy_kwargs={"net_arch": [64, 64]}, device="cpu")

    won, lost = against_chaser(model, args.red, args.blue)
    print(f"before training, against a chasing team: won {won:.1%}, lost {lost:.1%}", flush=True)
    model.learn(total_timesteps=args.steps, callback=GoalRate(args.steps))
    model.save(os.path.join(args.out, "model.zip"))
    won, lost = against_chaser(model, args.red, args.blue)
    print(f"after {model.num_timesteps:,d} agent steps, against a chasing team: won {won:.1%}, lost {lost:.1%}")
    print(f"wrote model.zip into {args.out}")


if __name__ == "__main__":
    main()
