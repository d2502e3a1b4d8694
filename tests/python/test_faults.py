"""Faults from outside a call: the interpreter ending a thread at exit,
memory running out, Ctrl-C, and memory kept after a batch is gone."""
import os

import pytest

from conftest import run_python

# AddressSanitizer reserves terabytes of address space and holds freed
# memory back: neither a limit on the address space nor the resident size
# means what these tests need.
native_allocator = pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                                      reason="needs the plain allocator")

# 200 000 walls far from play: a stadium whose wall constants alone take
# several megabytes.
LARGE_STADIUM = """
walls = ",".join('{"v0":0,"v1":1}' for _ in range(200_000))
stadium = '{"vertexes":[{"x":2000,"y":2000},{"x":2001,"y":2000}],"segments":[' + walls + ']}'
"""


def test_daemon_thread_inside_rollout_bench_at_exit():
    """A daemon thread still running rollout_bench when the interpreter
    finalizes is ended by it when it asks for the lock back; the process must
    still exit normally (it used to crash). The finalizer of a module-level
    object holds finalization open until the call has ended."""
    code = """
        import threading, time, vexlo_core
        env = vexlo_core.VecEnv(64, 3, 3)
        start = time.perf_counter()
        env.rollout_bench(200)
        per_step = (time.perf_counter() - start) / 200

        class SlowToFinalize:
            def __del__(self):
                time.sleep(1.5)

        slow = SlowToFinalize()
        threading.Thread(target=env.rollout_bench, args=(int(0.5 / per_step),), daemon=True).start()
    """
    for _ in range(3):
        run_python(code)


@native_allocator
def test_out_of_memory_raises_and_changes_nothing(monkeypatch):
    # Large blocks come straight from the system, under the limit set below,
    # not from memory the parser gave back.
    monkeypatch.setenv("MALLOC_MMAP_THRESHOLD_", "131072")
    out = run_python(LARGE_STADIUM + """
import resource, numpy as np, vexlo_core
env, twin = (vexlo_core.VecEnv.from_vxs(stadium, 2, 1, 1) for _ in range(2))
a = np.ones((2, 2, 3), np.int64)
vexlo_core.VecEnv(2, 1, 1).physics_step(a)  # the pool exists
before = env.snapshot()
with open("/proc/self/statm") as f:
    in_use = int(f.read().split()[0]) * resource.getpagesize()
limits = resource.getrlimit(resource.RLIMIT_AS)
resource.setrlimit(resource.RLIMIT_AS, (in_use + (2 << 20), limits[1]))
errors = []
for call in (lambda: env.physics_step(a), lambda: env.predict_ball([5])):
    try:
        call()
    except MemoryError:
        errors.append("MemoryError")
resource.setrlimit(resource.RLIMIT_AS, limits)
same = lambda x, y: all(np.array_equal(p, q) for p, q in zip(x, y))
print(*errors, same(env.snapshot(), before),
      np.array_equal(env.physics_step(a), twin.physics_step(a)), same(env.snapshot(), twin.snapshot()),
      np.array_equal(env.predict_ball([5, 50]), twin.predict_ball([5, 50])))
""")
    assert out.split() == ["MemoryError", "MemoryError", "True", "True", "True", "True"]


@native_allocator
def test_memory_returns_after_a_large_batch_is_gone(monkeypatch):
    # Freed blocks of this size and up go back to the system at once.
    monkeypatch.setenv("MALLOC_MMAP_THRESHOLD_", "131072")
    out = run_python(LARGE_STADIUM + """
import gc, numpy as np, vexlo_core

def rss():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096

def use(env):
    env.physics_step(np.ones((env.n_envs, 2, 3), np.int64))
    env.predict_ball([5])

use(vexlo_core.VecEnv(2, 1, 1))
vexlo_core.VecEnv.from_vxs(stadium, 2, 1, 1)  # the parser's own memory, gone again
base = rss()
env = vexlo_core.VecEnv.from_vxs(stadium, 2, 1, 1)
use(env)
grown = rss() - base
del env
gc.collect()
print(grown >> 20, (rss() - base) >> 20)
""")
    grown, kept = map(int, out.split())
    assert grown > 40  # two worlds of 200 000 walls were there
    assert kept < 8


def test_ctrl_c_interrupts_long_calls():
    """predict_ball and rollout_bench of unbounded length end with
    KeyboardInterrupt soon after Ctrl-C and leave the batch usable;
    rollout_bench leaves every world the same number of ticks further. The
    signal comes from another process: predict_ball holds the lock."""
    out = run_python("""
        import os, subprocess, numpy as np, vexlo_core
        env = vexlo_core.VecEnv(64, 1, 1)
        for call in (lambda: env.predict_ball([10**15]), lambda: env.rollout_bench(10**15)):
            subprocess.Popen(["sh", "-c", f"sleep 0.5; kill -INT {os.getpid()}"])
            try:
                call()
                print("finished")
            except KeyboardInterrupt:
                print("interrupted")
        steps = env.snapshot()[4]
        print(len(set(steps.tolist())) == 1 and 0 < steps[0] < 10**15)
        env.physics_step(np.zeros((64, 2, 3), np.int64))
        print((env.snapshot()[4] == steps + 8).all())
    """, timeout=60)
    assert out.split() == ["interrupted", "interrupted", "True", "True"]
