"""Train the PPO agent of examples/train_ppo.py from a vexlo.distributed.RolloutPool.

    pip install ".[train,distributed]"
    python examples/train_distributed.py [--steps 2000000] [--shards 2] [--out runs/distributed]

Same task, network and hyperparameters as ``train_ppo.py`` (1v1 against a
still opponent, shaped reward, half of the episodes from random starts,
separate 64-64 tanh actor and critic, rollouts of 256 steps, minibatches of
2048, 4 epochs, Adam 3e-4, gamma 0.99, GAE 0.95, entropy 0.01, clip 0.2),
but the rollouts come from Ray actors on a local Ray cluster on loopback.

Design: the learner is a PyTorch model in this process; the actors run the
same network in NumPy (``vexlo.distributed.MLPPolicy``), so they need
neither torch nor a GPU and sample every environment's actions from its own
random stream. After each update the weights go to the object store once and
every shard reads that copy. With two rollouts in flight a batch may come
from the weights one update old: each batch carries its version, and the PPO
ratio is taken against the log-probabilities the actors sampled with.

Writes ``curve.csv`` and ``summary.txt`` into ``--out`` (``runs/`` is ignored
by git) and prints the goal rate before and after training.
"""

from __future__ import annotations

import argparse
import os
import time

import numpy as np
import torch
from torch import nn

import vexlo
from vexlo.distributed import MLPPolicy, RolloutPool, init_local

ENV = dict(reward=vexlo.ShapedReward(), kickoff=vexlo.RandomKickoff(probability=0.5))


class ActorCritic(nn.Module):
    """The torch twin of ``MLPPolicy``: the same layers, exported by name."""

    def __init__(self, policy: MLPPolicy) -> None:
        super().__init__()
        self.nvec = [int(k) for k in policy.nvec]
        self.heads = nn.ModuleDict()
        for head in ("pi", "vf"):
            layers = [nn.Linear(i, o) for i, o in policy.layer_sizes(head)]
            self.heads[head] = nn.ModuleList(layers)
        for head, gain in (("pi", 0.01), ("vf", 1.0)):
            for i, layer in enumerate(self.heads[head]):
                last = i == len(self.heads[head]) - 1
                nn.init.orthogonal_(layer.weight, gain if last else np.sqrt(2))
                nn.init.zeros_(layer.bias)

    def run(self, head: str, x: torch.Tensor) -> torch.Tensor:
        layers = self.heads[head]
        for layer in layers[:-1]:
            x = torch.tanh(layer(x))
        return layers[-1](x)

    def evaluate(self, obs: torch.Tensor, actions: torch.Tensor) -> tuple[torch.Tensor, ...]:
        """Log-probability and entropy of ``actions``, and the value of ``obs``."""
        dists = [torch.distributions.Categorical(logits=part)
                 for part in torch.split(self.run("pi", obs), self.nvec, dim=1)]
        logp = sum(d.log_prob(actions[:, j]) for j, d in enumerate(dists))
        entropy = sum(d.entropy() for d in dists)
        return logp, entropy, self.run("vf", obs)[:, 0]

    def export(self) -> dict[str, np.ndarray]:
        """Weights named and laid out as ``MLPPolicy`` reads them (x @ w + b)."""
        out = {}
        for head, layers in self.heads.items():
            for i, layer in enumerate(layers):
                out[f"{head}.{i}.w"] = layer.weight.detach().double().numpy().T.copy()
                out[f"{head}.{i}.b"] = layer.bias.detach().double().numpy().copy()
        return out


def advantages(batch, last_value: np.ndarray, gamma: float, lam: float) -> tuple[np.ndarray, np.ndarray]:
    """GAE over a rollout. With next-step autoreset the observation after an
    ending step is its final one (the bootstrap of a truncation), and the
    step after restarts the environment: it is no transition and cuts the sum."""
    value = batch.extras["value"]
    T = value.shape[0]
    next_value = np.concatenate([value[1:], last_value[None]])
    done = batch.terminations | batch.truncations
    delta = batch.rewards + gamma * next_value * ~batch.terminations - value
    adv = np.zeros_like(value)
    running = np.zeros_like(last_value)
    for t in range(T - 1, -1, -1):
        running = delta[t] + gamma * lam * ~done[t] * running
        adv[t] = running
    return adv, adv + value


def ppo_update(model: ActorCritic, optimizer: torch.optim.Optimizer, batch, args) -> None:
    with torch.no_grad():
        last_value = model.run("vf", torch.as_tensor(batch.last_obs))[:, 0].double().numpy()
    adv, returns = advantages(batch, last_value, args.gamma, args.gae_lambda)
    real = ~batch.resets.reshape(-1)
    obs = torch.as_tensor(batch.obs.reshape(-1, batch.obs.shape[-1])[real])
    actions = torch.as_tensor(batch.actions.reshape(-1, batch.actions.shape[-1])[real])
    old_logp = torch.as_tensor(batch.extras["logp"].reshape(-1)[real], dtype=torch.float32)
    adv_t = torch.as_tensor(adv.reshape(-1)[real], dtype=torch.float32)
    ret_t = torch.as_tensor(returns.reshape(-1)[real], dtype=torch.float32)
    for _ in range(args.epochs):
        for idx in torch.randperm(len(obs)).split(args.batch_size):
            logp, entropy, value = model.evaluate(obs[idx], actions[idx])
            a = adv_t[idx]
            a = (a - a.mean()) / (a.std() + 1e-8)
            ratio = torch.exp(logp - old_logp[idx])
            policy_loss = -torch.min(ratio * a, ratio.clamp(1 - args.clip, 1 + args.clip) * a).mean()
            loss = policy_loss + 0.5 * ((value - ret_t[idx]) ** 2).mean() - args.ent_coef * entropy.mean()
            optimizer.zero_grad()
            loss.backward()
            nn.utils.clip_grad_norm_(model.parameters(), 0.5)
            optimizer.step()


def goal_rate(policy: MLPPolicy, weights: dict, n_envs: int = 1024, seed: int = 123) -> float:
    """Share of episodes from random starts the agent ends by scoring, acting
    greedily (each environment plays one episode)."""
    env = vexlo.VectorEnv(n_envs, kickoff=vexlo.RandomKickoff(), autoreset_mode="Disabled")
    obs, _ = env.reset(seed=seed)
    live, goals = np.ones(n_envs, bool), np.zeros(n_envs, bool)
    while live.any():
        heads = policy.log_probs(policy.forward(weights, obs, "pi"))
        obs, reward, terminated, truncated, _ = env.step(np.stack([h.argmax(1) for h in heads], 1))
        goals |= live & terminated & (reward > 0)
        live &= ~(terminated | truncated)
    return float(goals.mean())


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--steps", type=int, default=2_000_000, help="environment steps to train for")
    parser.add_argument("--envs", type=int, default=64)
    parser.add_argument("--shards", type=int, default=2)
    parser.add_argument("--rollout", type=int, default=256)
    parser.add_argument("--batch-size", type=int, default=2048)
    parser.add_argument("--epochs", type=int, default=4)
    parser.add_argument("--lr", type=float, default=3e-4)
    parser.add_argument("--gamma", type=float, default=0.99)
    parser.add_argument("--gae-lambda", type=float, default=0.95)
    parser.add_argument("--ent-coef", type=float, default=0.01)
    parser.add_argument("--clip", type=float, default=0.2)
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--out", default="runs/distributed")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    torch.manual_seed(args.seed)
    torch.set_num_threads(1)
    init_local(num_cpus=args.shards, log_to_driver=False)

    policy = MLPPolicy(vexlo.VectorEnv(1).single_observation_space.shape[0])
    model = ActorCritic(policy)
    optimizer = torch.optim.Adam(model.parameters(), lr=args.lr, eps=1e-5)
    print(f"goal rate before training: {goal_rate(policy, model.export()):.1%}", flush=True)

    curve = []
    start = time.monotonic()
    with RolloutPool(args.envs, args.shards, args.seed, policy, args.rollout, model.export(),
                     env_kwargs=ENV) as pool:
        steps = 0
        for batch in pool:
            ended = batch.terminations | batch.truncations
            goals = int((batch.terminations & (batch.rewards > 0)).sum())
            ppo_update(model, optimizer, batch, args)
            pool.set_weights(model.export())
            steps += batch.rewards.size
            rate = goals / max(1, int(ended.sum()))
            curve.append((steps, time.monotonic() - start, rate, int(ended.sum()), batch.version))
            print(f"{steps:>10,d} steps {curve[-1][1]:6.0f} s  goal rate {rate:6.1%} over "
                  f"{int(ended.sum())} episodes (weights v{batch.version})", flush=True)
            if steps >= args.steps:
                break
        collect_wait = pool.wait_seconds
    wall = time.monotonic() - start
    after = goal_rate(policy, model.export())
    print(f"trained {steps:,d} steps in {wall / 60:.1f} min ({collect_wait:.0f} s waiting for rollouts)")
    print(f"goal rate after training: {after:.1%}")
    with open(os.path.join(args.out, "curve.csv"), "w") as fh:
        fh.write("steps,seconds,goal_rate,episodes,weights_version\n")
        fh.writelines(",".join(str(v) for v in row) + "\n" for row in curve)
    with open(os.path.join(args.out, "summary.txt"), "w") as fh:
        fh.write(f"steps {steps}\nminutes {wall / 60:.2f}\ngoal_rate_after {after:.4f}\n")
    torch.save(model.state_dict(), os.path.join(args.out, "model.pt"))
    print(f"wrote {args.out}/curve.csv, summary.txt, model.pt")


if __name__ == "__main__":
    main()
