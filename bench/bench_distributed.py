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


def throughput(policy, weights, args) -> tuple[list[float], list[float]]:
    """Env-steps/s of the local shard, the 1-shard pool and the 2-shard pool,
    measured in alternation (the machine's speed drifts), and the driver's
    seconds per collect of the two pools. One rollout in flight: an idle pool
    leaves the CPUs to the others."""
    local = Shard(args.envs, 0, 0, policy, args.rollout, num_threads=args.cpus)
    pools = [RolloutPool(args.envs, k, 0, policy, args.rollout, weights, max_in_flight=1,
                         cpus_per_shard=args.cpus / k) for k in (1, 2)]
    runs = [lambda r: local.collect(r, weights, 0)] + [lambda r, p=p: p.collect() for p in pools]
    seconds = [0.0] * 3
    for r in range(args.rollouts + 1):
        for i, run in enumerate(runs):
            start = time.perf_counter()
            run(r)
            if r:  # the first round starts the actors
                seconds[i] += time.perf_counter() - start
        if r == 0:
            for p in pools:
                p.driver_seconds = 0.0
    driver = [p.driver_seconds / args.rollouts for p in pools]
    for p in pools:
        p.close()
    return [args.envs * args.rollout * args.rollouts / s for s in seconds], driver


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
    parser.add_argument("--rollouts", type=int, default=12)
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--cpus", type=int, default=2)
    args = parser.parse_args()
    # Both pools exist at once (each idle while the other runs): logical CPUs for both.
    init_local(num_cpus=2 * args.cpus, log_to_driver=False)
    obs_dim = vexlo.VectorEnv(1).single_observation_space.shape[0]
    policy = MLPPolicy(obs_dim)
    weights = policy.init_weights(0)
    print(f"{args.envs} Classic 1v1 environments, MLP policy {policy.hidden}, rollouts of {args.rollout} "
          f"steps, {args.cpus} CPUs, vexlo_core threads {vexlo_core.get_num_threads()}", flush=True)
    rows = []
    for i in range(args.repeat):
        (local, one, two), (one_driver, two_driver) = throughput(policy, weights, args)
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
