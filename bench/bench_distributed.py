"""Throughput and recovery of vexlo.distributed.RolloutPool on this machine.

    python3 bench/bench_distributed.py [--envs 1024] [--rollout 64] [--rollouts 8] [--repeat 3]

For 1024 Classic 1v1 environments driven by the example's MLP policy: the
env-steps/s of one shard in this process (the same code without Ray, all
CPUs), and of the pool with 1 shard (all CPUs) and 2 shards (one CPU each);
the driver's time per collect outside the actors; the time from a SIGKILL of
a shard to the batch it had to regenerate.
"""

from __future__ import annotations

import argparse
import os
import signal
import time

import numpy as np
import vexlo_core

import vexlo
from vexlo.distributed import MLPPolicy, RolloutPool, Shard, init_local


def local_rate(policy, weights, args) -> float:
    shard = Shard(args.envs, 0, 0, policy, args.rollout, num_threads=args.cpus)
    shard.collect(0, weights, 0)
    start = time.perf_counter()
    for r in range(1, args.rollouts + 1):
        shard.collect(r, weights, 0)
    return args.envs * args.rollout * args.rollouts / (time.perf_counter() - start)


def pool_rate(policy, weights, args, n_shards) -> tuple[float, float]:
    with RolloutPool(args.envs, n_shards, 0, policy, args.rollout, weights,
                     cpus_per_shard=args.cpus / n_shards) as pool:
        pool.collect()  # actors up, first rollout
        pool.wait_seconds = pool.driver_seconds = 0.0
        start = time.perf_counter()
        for _ in range(args.rollouts):
            pool.collect()
        rate = args.envs * args.rollout * args.rollouts / (time.perf_counter() - start)
        return rate, pool.driver_seconds / args.rollouts


def recovery_time(policy, weights, args) -> float:
    with RolloutPool(args.envs, 2, 0, policy, args.rollout, weights, cpus_per_shard=args.cpus / 2,
                     checkpoint_every=4) as pool:
        for _ in range(6):  # kept state after rollout 3, rollouts 4 and 5 to replay
            pool.collect()
        os.kill(pool.shard_pids()[1], signal.SIGKILL)
        start = time.perf_counter()
        while pool.recoveries == 0:
            pool.collect()
        return time.perf_counter() - start


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--envs", type=int, default=1024)
    parser.add_argument("--rollout", type=int, default=64)
    parser.add_argument("--rollouts", type=int, default=8)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--cpus", type=int, default=2)
    args = parser.parse_args()
    init_local(num_cpus=args.cpus, log_to_driver=False)
    obs_dim = vexlo.VectorEnv(1).single_observation_space.shape[0]
    policy = MLPPolicy(obs_dim)
    weights = policy.init_weights(0)
    print(f"{args.envs} Classic 1v1 environments, MLP policy {policy.hidden}, rollouts of {args.rollout} "
          f"steps, {args.cpus} CPUs, vexlo_core threads {vexlo_core.get_num_threads()}", flush=True)
    rows = []
    for i in range(args.repeat):
        local = local_rate(policy, weights, args)
        one, one_driver = pool_rate(policy, weights, args, 1)
        two, two_driver = pool_rate(policy, weights, args, 2)
        recover = recovery_time(policy, weights, args)
        rows.append((local, one, two, one_driver, two_driver, recover))
        print(f"run {i + 1}: local {local / 1e3:6.0f} k/s | pool 1 shard {one / 1e3:6.0f} k/s "
              f"({one / local:4.0%}) | 2 shards {two / 1e3:6.0f} k/s ({two / local:4.0%}) | driver per "
              f"collect {one_driver * 1e3:5.1f} / {two_driver * 1e3:5.1f} ms | kill to batch {recover:4.2f} s",
              flush=True)
    a = np.array(rows)
    print(f"ranges: local {a[:, 0].min() / 1e3:.0f}-{a[:, 0].max() / 1e3:.0f} k/s, 2 shards "
          f"{(a[:, 2] / a[:, 0]).min():.0%}-{(a[:, 2] / a[:, 0]).max():.0%} of local, recovery "
          f"{a[:, 5].min():.2f}-{a[:, 5].max():.2f} s")


if __name__ == "__main__":
    main()
