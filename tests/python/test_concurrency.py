"""Borrowing, the worker pool (one worker or many, its thread count, after fork) and leaks."""
import os
import sys
import threading

import numpy as np
import pytest

import vexlo_core

from conftest import actions, run_python
from vexlo_core import VecEnv


def test_conflicts_while_rollout_bench_runs():
    env = VecEnv(64, 3, 3)
    worker = threading.Thread(target=env.rollout_bench, args=(100_000,))
    worker.start()
    calls = {"physics_step": lambda: env.physics_step(actions(64, 6)), "reset_all": env.reset_all,
             "snapshot": env.snapshot, "n_envs": lambda: env.n_envs}
    seen = {}
    while worker.is_alive() and len(seen) < len(calls):
        for name, call in calls.items():
            try:
                call()
            except RuntimeError as err:
                seen[name] = str(err)
    worker.join()
    assert seen == {"physics_step": "Already borrowed", "reset_all": "Already borrowed",
                    "snapshot": "Already mutably borrowed", "n_envs": "Already mutably borrowed"}
    env.reset_all()  # both kinds of access are free again


def test_argument_conversion_calling_back():
    env = VecEnv(2, 1, 1)

    class Reads:
        def __index__(self):
            env.snapshot()
            return 1

    class Writes:
        def __index__(self):
            env.reset_all()
            return 1

    with pytest.raises(RuntimeError, match="^Already mutably borrowed$"):
        env.set_kick_rate_limit(1, Reads(), 1)
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        env.rollout_bench(Writes())
    env.set_player_cmask(39)  # every borrow was given back
    assert env.snapshot()[4].tolist() == [0, 0]


SEQUENCE = """
import hashlib, numpy as np, vexlo_core
env = vexlo_core.VecEnv(257, 2, 2, tick_skip=4)
rng = np.random.default_rng(3)
h = hashlib.sha256()
for i in range(150):
    a = rng.integers(-1, 2, size=(257, 4, 3)).astype(np.int64)
    a[..., 2] = rng.integers(0, 3, size=(257, 4))
    h.update(env.physics_step(a).tobytes())
    if i % 50 == 49:
        env.reset_mask(rng.random(257) < 0.3)
env.rollout_bench(100)
for x in env.snapshot():
    h.update(x.tobytes())
print(h.hexdigest())
"""


def test_one_worker_equals_many():
    many = run_python(SEQUENCE)
    one = run_python(SEQUENCE, one_cpu=True)
    assert one == many


def digest_of_a_sequence():
    # Enough work for every thread to take part; lane groups that do not divide the batch.
    env = VecEnv(1001, 3, 3, tick_skip=4)
    rng = np.random.default_rng(4)
    parts = []
    for _ in range(10):
        parts.append(env.physics_step(rng.integers(-2, 3, size=(1001, 6, 3)).astype(np.int64)))
    env.rollout_bench(40)
    parts += [*env.snapshot(), env.predict_ball([0, 9, 200])]
    return b"".join(x.tobytes() for x in parts)


def test_thread_count_changes_no_result():
    try:
        counts = [1, 2, 3]
        digests = []
        for n in counts:
            vexlo_core.set_num_threads(n)
            assert vexlo_core.get_num_threads() == n
            digests.append(digest_of_a_sequence())
        assert digests[1] == digests[0] and digests[2] == digests[0]
    finally:
        vexlo_core.set_num_threads(None)


def test_thread_count_settings():
    out = run_python("""
        import os, threading, numpy as np, vexlo_core
        default = vexlo_core.get_num_threads()
        vexlo_core.set_num_threads(n=3)
        three = vexlo_core.get_num_threads()
        # changed while another thread's rollout runs on the pool being replaced
        busy, twin = vexlo_core.VecEnv(256, 1, 1), vexlo_core.VecEnv(256, 1, 1)
        bench = threading.Thread(target=busy.rollout_bench, args=(4000,))
        bench.start()
        vexlo_core.set_num_threads(2)
        twin.rollout_bench(4000)
        bench.join()
        same = all(a.tobytes() == b.tobytes() for a, b in zip(busy.snapshot(), twin.snapshot()))
        pid = os.fork()
        if pid == 0:
            twin.rollout_bench(10)
            os._exit(vexlo_core.get_num_threads())
        child = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
        vexlo_core.set_num_threads(0)
        print(default, three, same, child, vexlo_core.get_num_threads())
    """, one_cpu=True)
    assert out.split() == ["1", "3", "True", "2", "1"]
    assert vexlo_core.get_num_threads() == len(os.sched_getaffinity(0))
    for bad, error in ((-1, ValueError), (1025, ValueError), ("2", TypeError), (2.0, TypeError)):
        with pytest.raises(error):
            vexlo_core.set_num_threads(bad)
    with pytest.raises(ValueError, match="^set_num_threads: n must be between 0 and 1024, got -1$"):
        vexlo_core.set_num_threads(-1)


def test_forked_child_steps():
    """The child forks while another thread has the pool busy; it must build
    its own pool and step to the same result as the parent."""
    out = run_python("""
        import os, threading, numpy as np, vexlo_core
        a = np.ones((300, 2, 3), np.int64)
        parent, twin = vexlo_core.VecEnv(300, 1, 1), vexlo_core.VecEnv(300, 1, 1)
        parent.physics_step(a)
        twin.physics_step(a)
        busy = vexlo_core.VecEnv(256, 3, 3)
        bench = threading.Thread(target=busy.rollout_bench, args=(20_000,))
        bench.start()
        read, write = os.pipe()
        pid = os.fork()
        if pid == 0:
            for _ in range(20):
                twin.physics_step(a)
            twin.rollout_bench(10)
            os.write(write, b"".join(x.tobytes() for x in twin.snapshot()))
            os._exit(0)
        os.close(write)
        for _ in range(20):
            parent.physics_step(a)
        parent.rollout_bench(10)
        got = b""
        while chunk := os.read(read, 1 << 16):
            got += chunk
        os.waitpid(pid, 0)
        bench.join()
        print(got == b"".join(x.tobytes() for x in parent.snapshot()))
    """, timeout=120)
    assert out.strip() == "True"


def rss_kib():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4


def test_no_growth_over_many_calls():
    env = VecEnv(2, 1, 1, tick_skip=1)
    a = actions(2, 2, dx=1, kick=1)
    refs = sys.getrefcount(a)
    for _ in range(10_000):
        env.physics_step(a)
        env.snapshot()
    before = rss_kib()
    for _ in range(100_000):
        env.physics_step(a)
        env.snapshot()
    # A single leaked small object per call would add several megabytes.
    assert rss_kib() - before < 1024
    assert sys.getrefcount(a) == refs


def test_workers_go_to_sleep_when_idle():
    """Threads out of work watch for more only briefly: an idle process uses
    next to no CPU, however busy it was just before."""
    out = run_python("""
        import time, numpy as np, vexlo_core
        env = vexlo_core.VecEnv(512, 1, 1)
        a = np.zeros((512, 2, 3), np.int64)
        for _ in range(50):
            env.physics_step(a)
            env.predict_ball([1, 4])
        time.sleep(0.05)
        cpu, wall = time.process_time(), time.perf_counter()
        time.sleep(0.5)
        print(time.process_time() - cpu, time.perf_counter() - wall)
    """)
    cpu, wall = map(float, out.split())
    assert wall >= 0.5 and cpu < 0.05


def test_prediction_inside_a_prediction():
    """Signal handlers run between the spans of a long prediction (not only
    once it is over) and may predict on the same batch, which is then busy:
    such a call gets working memory of its own, and neither answer changes."""
    out = run_python("""
        import signal, numpy as np, vexlo_core
        env = vexlo_core.VecEnv(64, 1, 1)
        env.set_state(np.random.default_rng(1).uniform(-100, 100, (64, 2)), np.full((64, 2), 9.0),
                      np.tile([[-400.0, 185.0], [-400.0, -185.0]], (64, 1, 1)), np.zeros((64, 2, 2)))
        short, long = [5, 90], [3, 400_000]  # several spans of 2**22 ball ticks
        want_short, want_long = env.predict_ball(short), env.predict_ball(long)
        inner = []
        def handler(*_):
            inner.append(env.predict_ball(short))
            if len(inner) == 4:  # a slow build must still finish the long call
                signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, handler)
        signal.setitimer(signal.ITIMER_REAL, 0.01, 0.01)
        got_long = env.predict_ball(long)
        signal.setitimer(signal.ITIMER_REAL, 0)
        print(len(inner) >= 2, all(np.array_equal(x, want_short) for x in inner),
              np.array_equal(got_long, want_long))
    """)
    assert out.split() == ["True", "True", "True"]
