"""Cost of the vexlo.VectorEnv layer over raw physics_step (not a test).

    python bench/bench_vexlo.py [--envs 1024] [--calls 2000] [--red 1] [--blue 1] [--rounds 3]
                                [--baseline DIR] [--selfplay] [--threads N]

Runs the same random inputs through ``VecEnv.physics_step`` alone, through
``vexlo.VectorEnv.step`` (default observation, reward and autoreset, still
opponent, tick_skip 8) and through ``VectorEnv`` without the lookahead, taking
turns. It prints environment steps per second for each, the wrapper's share of
the total time (split into the lookahead and the rest), the share in every
round, and the cost of the wrapper's parts measured on their own.

``--baseline DIR`` also times the ``VectorEnv`` of another copy of the
package (``DIR`` holds its ``__init__.py``, e.g. an older commit's
``python/vexlo`` from ``git archive``) in the same rounds, so that a change
is measured side by side with what it replaces. ``--selfplay`` compares
agent steps per second of ``vexlo.SelfPlayEnv`` (every player an agent) with
``VectorEnv`` batches of as many agents, and with one-match ``ParallelEnv``.
"""

import argparse
import importlib.util
import os
import statistics
import sys
import time

import numpy as np

import vexlo
import vexlo_core


def timed(fn, calls, repeats=5):
    """Best of ``repeats`` runs of ``calls`` calls: seconds per call."""
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        for i in range(calls):
            fn(i)
        best = min(best, (time.perf_counter() - start) / calls)
    return best


def timed_alternating(fns, calls, chunk=10):
    """Seconds per call of several loops run in turn, ``chunk`` calls at a
    time: the median over chunks of each. Shared machines change speed from
    one moment to the next; taking turns often lets such changes hit every
    loop alike, and the median ignores the chunks an interruption hit."""
    chunks = [[] for _ in fns]
    for k, i in enumerate(range(0, calls, chunk)):
        # The order rotates: a loop runs slower after some loops than after
        # others (what they leave in the caches), and each gets every place.
        for f in range(len(fns)):
            fn, times = fns[(f + k) % len(fns)], chunks[(f + k) % len(fns)]
            start = time.perf_counter()
            for j in range(i, i + chunk):
                fn(j)
            times.append((time.perf_counter() - start) / chunk)
    return [statistics.median(times) for times in chunks]


def load_package(path, name="vexlo_baseline"):
    """The package whose ``__init__.py`` lies in ``path``, imported as ``name``."""
    found = importlib.util.spec_from_file_location(name, os.path.join(path, "__init__.py"),
                                                   submodule_search_locations=[path])
    module = importlib.util.module_from_spec(found)
    sys.modules[name] = module
    found.loader.exec_module(module)
    return module


def random_stepper(env, n_actions=8):
    """A call ``f(i)`` that steps ``env`` with the ``i``-th of some random action batches."""
    rng = np.random.default_rng(0)
    nvec = env.single_action_space.nvec
    actions = [rng.integers(0, nvec, size=(env.num_envs, nvec.size)) for _ in range(n_actions)]
    env.reset(seed=0)
    for i in range(20):
        env.step(actions[i % n_actions])
    return lambda i: env.step(actions[i % n_actions])


def parallel_env_stepper(n_red, n_blue):
    """A call ``f(i)`` that steps a one-match ``ParallelEnv`` (restarting it after a goal)."""
    env = vexlo.ParallelEnv(n_red, n_blue, step_limit=10**9)
    env.reset(seed=0)
    rng = np.random.default_rng(0)
    moves = {a: rng.integers(0, [3, 3, 2]) for a in env.possible_agents}

    def step(i):
        if not env.agents:
            env.reset()
        env.step(moves)

    return step


def selfplay(args):
    p = args.red + args.blue
    matches = max(1, args.envs // p)
    sp = vexlo.SelfPlayEnv(matches, args.red, args.blue)
    one = vexlo.VectorEnv(matches * p, args.red, args.blue)
    loops = [random_stepper(sp), random_stepper(one), parallel_env_stepper(args.red, args.blue)]
    agents = [sp.num_envs, one.num_envs, p]
    print(f"self-play, {args.red}v{args.blue}, {matches * p} agents ({matches} matches), tick_skip 8, "
          f"agent steps/s, taking turns (median of chunks per round):")
    ratios = []
    for r in range(max(1, args.rounds)):
        t_sp, t_one, t_pz = timed_alternating(loops, args.calls)
        rate_sp, rate_one, rate_pz = (a / t for a, t in zip(agents, (t_sp, t_one, t_pz)))
        ratios.append(rate_sp / rate_one)
        print(f"  round {r + 1}: SelfPlayEnv({matches}) {rate_sp:12,.0f}   VectorEnv({matches * p}) "
              f"{rate_one:12,.0f}   ratio {rate_sp / rate_one:5.0%}   ParallelEnv {rate_pz:10,.0f}")
    print(f"  self-play at {min(ratios):.0%}..{max(ratios):.0%} of the one-team VectorEnv's agent steps/s")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--envs", type=int, default=1024)
    parser.add_argument("--calls", type=int, default=2000)
    parser.add_argument("--red", type=int, default=1)
    parser.add_argument("--blue", type=int, default=1)
    parser.add_argument("--rounds", type=int, default=3,
                        help="measurements in a row; the one with the median overhead is shown")
    parser.add_argument("--baseline", metavar="DIR", help="also time the VectorEnv of the package in DIR")
    parser.add_argument("--selfplay", action="store_true", help="compare batched self-play instead")
    parser.add_argument("--threads", type=int, default=None,
                        help="engine threads (vexlo_core.set_num_threads; default: the engine's own choice)")
    args = parser.parse_args()
    if args.threads is not None:
        vexlo_core.set_num_threads(args.threads)
    if args.selfplay:
        selfplay(args)
        return
    n, p = args.envs, args.red + args.blue

    rng = np.random.default_rng(0)
    env = vexlo.VectorEnv(n, args.red, args.blue, tick_skip=8)
    agent = [rng.integers(0, env.single_action_space.nvec, size=(n, args.red * 3)) for _ in range(16)]
    engine = []
    for a in agent:  # the same inputs as the engine sees them
        buf = np.zeros((n, p, 3), dtype=np.int64)
        env._writer.write(buf, a)
        engine.append(buf)

    raw = vexlo_core.VecEnv(n, args.red, args.blue, tick_skip=8)
    raw_mask = np.zeros(n, dtype=bool)

    def raw_step(i):
        scored = raw.physics_step(engine[i % 16])
        # The least any driver does: restart the environments that scored.
        np.greater_equal(scored, 0, out=raw_mask)
        if raw_mask.any():
            raw.reset_mask(raw_mask)

    bare = vexlo.VectorEnv(n, args.red, args.blue, tick_skip=8,
                           observation=vexlo.TeamObservation(lookahead=()))
    env.reset(seed=0)
    bare.reset(seed=0)
    loops = [raw_step, lambda i: env.step(agent[i % 16]), lambda i: bare.step(agent[i % 16])]
    if args.baseline:
        base = load_package(args.baseline).VectorEnv(n, args.red, args.blue, tick_skip=8)
        base.reset(seed=0)
        loops.append(lambda i: base.step(agent[i % 16]))
    for i in range(20):
        for loop in loops:
            loop(i)
    # A shared machine can be slower for a minute: several rounds show the
    # spread, and the round with the median overhead stands for them all.
    rounds = sorted((timed_alternating(loops, args.calls) for _ in range(max(1, args.rounds))),
                    key=lambda r: (r[1] - r[0]) / r[1])
    t_raw, t_env, t_bare = rounds[len(rounds) // 2][:3]

    state = vexlo.State.read(env.core)
    obs_fn = env.observation_fn

    def observe(i):
        obs_fn._cached = None  # no reuse of the last prediction
        obs_fn(env.view, state)

    parts = {
        "snapshot": timed(lambda i: vexlo.State.read(env.core), args.calls),
        "observation (all)": timed(observe, args.calls),
        "  of which predict_ball": timed(lambda i: env.core.predict_ball(obs_fn._offsets), args.calls),
        "reward": timed(lambda i: env.reward_fn(env.view, state, state, np.full(n, -1, np.int8)),
                        args.calls),
        "action translation": timed(lambda i: env._writer.write(env._actions, agent[i % 16]), args.calls),
    }

    print(f"{n} environments, {args.red}v{args.blue}, tick_skip 8, {vexlo_core.get_num_threads()} engine threads, "
          f"lookahead {obs_fn.lookahead} ticks, observation size {env.single_observation_space.shape[0]}")
    print(f"raw physics_step      : {n / t_raw:12,.0f} env steps/s  ({t_raw * 1e3:.3f} ms per call)")
    print(f"vexlo.VectorEnv.step  : {n / t_env:12,.0f} env steps/s  ({t_env * 1e3:.3f} ms per call)")
    print(f"  overhead            : {(t_env - t_raw) / t_env:6.1%} of the total, of which the lookahead "
          f"{(t_env - t_bare) / t_env:.1%} and the rest {(t_bare - t_raw) / t_env:.1%}")
    print(f"without the lookahead : {n / t_bare:12,.0f} env steps/s  ({t_bare * 1e3:.3f} ms per call)")
    print(f"  overhead            : {(t_bare - t_raw) / t_bare:6.1%} of the total")
    if len(rounds) > 1:
        shares = ", ".join(f"{(r[1] - r[0]) / r[1]:.1%}" for r in rounds)
        print(f"overhead in each of {len(rounds)} rounds (median shown above): {shares}")
    if args.baseline:
        shares = ", ".join(f"{(r[3] - r[0]) / r[3]:.1%}" for r in rounds)
        t_base = rounds[len(rounds) // 2][3]
        print(f"baseline VectorEnv    : {n / t_base:12,.0f} env steps/s  ({t_base * 1e3:.3f} ms per call)")
        print(f"  overhead in the same rounds: {shares}")
    print("parts on their own, caches warm (ms per call):")
    for name, t in parts.items():
        print(f"  {name:22s}: {t * 1e3:.3f}")


if __name__ == "__main__":
    main()
