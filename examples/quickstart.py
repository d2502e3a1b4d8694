"""Thousands of Classic matches under random inputs for a few seconds.

    python examples/quickstart.py [--envs 4096] [--seconds 5] [--red 1] [--blue 1]

Prints a progress bar on stderr, then goals per team and ticks per second.
"""
import argparse
import sys
import time

import numpy as np

import vexlo_core


def progress(fraction, width=40):
    filled = int(fraction * width)
    sys.stderr.write("\r[" + "#" * filled + "." * (width - filled) + f"] {fraction:6.1%}")
    sys.stderr.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--envs", type=int, default=4096)
    parser.add_argument("--seconds", type=float, default=5.0)
    parser.add_argument("--red", type=int, default=1)
    parser.add_argument("--blue", type=int, default=1)
    args = parser.parse_args()

    env = vexlo_core.VecEnv(args.envs, args.red, args.blue, tick_skip=8)
    n, p = env.n_envs, env.n_players
    rng = np.random.default_rng(0)
    goals = {vexlo_core.FLAG_RED: 0, vexlo_core.FLAG_BLUE: 0}  # by conceding team
    ticks = 0
    steps = env.snapshot()[4]
    start = time.perf_counter()
    last_bar = 0.0
    elapsed = 0.0
    while elapsed < args.seconds:
        actions = rng.integers(-1, 2, size=(n, p, 3), dtype=np.int64)  # dx, dy, kick in -1..1
        scored = env.physics_step(actions)
        for team in goals:
            goals[team] += int(np.count_nonzero(scored == team))
        after = env.snapshot()[4]
        ticks += int((after - steps).sum())  # a goal ends that env's call early
        # Episodes of about one minute of play: restart the ones that ran out.
        done = after >= 3600
        if done.any():
            env.reset_mask(done)
            after[done] = 0
        steps = after
        elapsed = time.perf_counter() - start
        if elapsed - last_bar >= 0.1:
            last_bar = elapsed
            progress(min(elapsed / args.seconds, 1.0))
    progress(1.0)
    sys.stderr.write("\n")
    print(f"{n} Classic matches, {args.red}v{args.blue}, {elapsed:.1f} s")
    print(f"goals scored by red:  {goals[vexlo_core.FLAG_BLUE]}")
    print(f"goals scored by blue: {goals[vexlo_core.FLAG_RED]}")
    print(f"ticks per second:     {ticks / elapsed:,.0f}")


if __name__ == "__main__":
    main()
