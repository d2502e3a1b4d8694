"""Lane widths against the scalar tick, and one worker against two (not a test).

    python bench/bench_lanes.py [--envs 1024 4096] [--rounds 7] [--ticks 2000000]
                                [--varied] [--scaling]

For Classic 1v1 and 3v3 and each N: rollout_bench ticks per second with one
worker at every lane width this processor runs (forced with the private
vexlo_core._force_lane_width: 1 is the scalar tick), and each width's ratio to
the scalar tick. The widths take turns within every round and the figures are
medians over the rounds, so a shared machine's load falls on all of them
alike. Every width steps its own copy of the same batch through the same
ticks; the script checks at the end that they agree bit for bit.

--varied first plays a few hundred random ticks, so that the lanes of a
group hold different states (a fresh batch has N copies of one kickoff).
--scaling also compares one worker with two at the default width, in turns,
with the ticks per CPU-second and the processors the process kept busy: on a
shared machine two workers can only be as fast as the processors left to them.
"""
import argparse
import resource
import statistics
import time

import numpy as np

import vexlo_core

SIZES = [(1, 1), (3, 3)]


def available_widths():
    widths = []
    for w in (1, 4, 8):
        try:
            vexlo_core._force_lane_width(w)
            widths.append(w)
        except ValueError:
            pass
    vexlo_core._force_lane_width(0)
    return widths


def make_env(n_envs, red, blue, varied):
    env = vexlo_core.VecEnv(n_envs, red, blue)
    if varied:
        rng = np.random.default_rng(n_envs + red)
        for _ in range(300):
            env.physics_step(rng.integers(-1, 2, size=(n_envs, red + blue, 3), dtype=np.int64))
    return env


def timed_rollout(env, steps, cpu=None):
    """Ticks per second; with a list `cpu`, also appends ticks per CPU-second
    and how many processors the process kept busy meanwhile."""
    used = resource.getrusage(resource.RUSAGE_SELF)
    start = time.perf_counter()
    ticks = env.rollout_bench(steps)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_SELF)
    busy = (after.ru_utime - used.ru_utime) + (after.ru_stime - used.ru_stime)
    if cpu is not None:
        cpu.append((ticks / busy, busy / wall))
    return ticks / wall


def width_table(args, widths):
    vexlo_core.set_num_threads(1)
    for red, blue in SIZES:
        for n in args.envs:
            steps = max(2, args.ticks // n)
            envs = {}
            for w in widths:
                vexlo_core._force_lane_width(w)
                envs[w] = make_env(n, red, blue, args.varied)
                envs[w].rollout_bench(2)  # warm-up: workspace, caches
            rates = {w: [] for w in widths}
            for _ in range(args.rounds):
                for w in widths:
                    vexlo_core._force_lane_width(w)
                    rates[w].append(timed_rollout(envs[w], steps))
            vexlo_core._force_lane_width(0)
            digests = {envs[w].digest().tobytes() for w in widths}
            scalar = statistics.median(rates[1])
            cells = []
            for w in widths:
                med = statistics.median(rates[w])
                lo, hi = min(rates[w]), max(rates[w])
                cells.append(f"w{w}: {med / 1e6:6.2f} M/s ({lo / 1e6:.2f}-{hi / 1e6:.2f}) x{med / scalar:4.2f}")
            print(f"{red}v{blue} N={n:5d}  " + "  ".join(cells) +
                  ("" if len(digests) == 1 else "  WIDTHS DISAGREE"), flush=True)


def scaling_table(args):
    vexlo_core._force_lane_width(0)
    for red, blue in SIZES:
        for n in args.envs:
            steps = max(2, args.ticks // n)
            env = make_env(n, red, blue, args.varied)
            rates = {1: [], 2: []}
            cpu = {1: [], 2: []}
            for threads in (1, 2):
                vexlo_core.set_num_threads(threads)
                env.rollout_bench(2)
            for _ in range(args.rounds):
                for threads in (1, 2):
                    vexlo_core.set_num_threads(threads)
                    env.rollout_bench(2)  # the new pool's threads started
                    rates[threads].append(timed_rollout(env, steps, cpu[threads]))
            one, two = statistics.median(rates[1]), statistics.median(rates[2])
            ratios = sorted(b / a for a, b in zip(rates[1], rates[2]))
            # Ticks per CPU-second tell the pool's own cost apart from a
            # machine whose other processes leave it less than two processors.
            per_cpu = {t: statistics.median(c[0] for c in cpu[t]) / 1e6 for t in (1, 2)}
            busy = {t: statistics.median(c[1] for c in cpu[t]) for t in (1, 2)}
            print(f"{red}v{blue} N={n:5d}  1 worker {one / 1e6:6.2f} M/s  2 workers {two / 1e6:6.2f} M/s"
                  f"  x{two / one:.2f} (per round x{ratios[0]:.2f}-x{ratios[-1]:.2f});"
                  f"  per CPU-second {per_cpu[1]:.2f} / {per_cpu[2]:.2f} M,"
                  f" processors busy {busy[1]:.2f} / {busy[2]:.2f}", flush=True)
    vexlo_core.set_num_threads(0)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--envs", type=int, nargs="+", default=[1024, 4096])
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--ticks", type=int, default=2_000_000, help="ticks per measurement")
    parser.add_argument("--varied", action="store_true")
    parser.add_argument("--scaling", action="store_true")
    args = parser.parse_args()
    widths = available_widths()
    print(f"Classic, widths {widths}, one worker, medians of {args.rounds} rounds "
          f"(range), ratio to the scalar tick" + (", varied states" if args.varied else ""))
    width_table(args, widths)
    if args.scaling:
        print("one worker against two, default width")
        scaling_table(args)


if __name__ == "__main__":
    main()
