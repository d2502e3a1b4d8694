"""The shipped type stubs against the real module, checked by mypy."""

import os
import subprocess
import sys
import textwrap

import pytest

import vexlo_core

pytest.importorskip("mypy")

def mypy(*args, cwd):
    env = {**os.environ, "MYPY_CACHE_DIR": str(cwd / ".mypy_cache")}
    return subprocess.run([sys.executable, "-m", *args], cwd=cwd, env=env,
                          capture_output=True, text=True, timeout=300)


def test_stubtest_against_the_runtime_module(tmp_path):
    res = mypy("mypy.stubtest", "vexlo_core", cwd=tmp_path)
    assert res.returncode == 0, res.stdout + res.stderr


def test_package_and_usage_type_check(tmp_path):
    sample = tmp_path / "sample.py"
    sample.write_text(textwrap.dedent("""
        import numpy as np
        import vexlo_core
        import vexlo

        core = vexlo_core.VecEnv(4, 1, 1, tick_skip=8)
        ball_pos, ball_vel, player_pos, player_vel, steps = core.snapshot()
        scored: np.ndarray = core.physics_step(np.zeros((4, 2, 3), np.int64))
        env = vexlo.VectorEnv(4, opponent=vexlo.ChaseBall())
        obs, info = env.reset(seed=0)
        count: int = core.n_envs
        core.reset_mask([True, False])  # error: a list is not an array
        core.from_vxs(1, 1, 1, 1)  # error: the stadium is text
    """))
    # The installed package (it ships py.typed), then a user's script.
    res = mypy("mypy", "--disallow-untyped-defs", "--warn-unused-ignores", "-p", "vexlo", cwd=tmp_path)
    assert res.returncode == 0, res.stdout + res.stderr
    res = mypy("mypy", str(sample), cwd=tmp_path)
    expected = [str(i + 1) for i, line in enumerate(sample.read_text().splitlines()) if "# error" in line]
    errors = [line for line in res.stdout.splitlines() if ": error:" in line]
    assert [e.split(":")[1] for e in errors] == expected, res.stdout
    assert all("sample.py" in e for e in errors)
