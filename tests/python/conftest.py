import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import vexlo_core

RED = vexlo_core.FLAG_RED
BLUE = vexlo_core.FLAG_BLUE

# A stadium without walls whose ball cannot be moved: a player beside it can
# kick it tick after tick, and each kick pushes the player back a little
# (kickback), so the number and timing of kicks show in the player's state.
KICK_STADIUM = '{"ballPhysics":{"invMass":0},"playerPhysics":{"kickback":0.2}}'


def actions(n_envs, n_players, dx=0, dy=0, kick=0):
    a = np.zeros((n_envs, n_players, 3), np.int64)
    a[..., 0], a[..., 1], a[..., 2] = dx, dy, kick
    return a


def place(env, ball_pos, player_pos, ball_vel=(0.0, 0.0), player_vel=None):
    """Puts the same ball and players into every environment."""
    n, p = env.n_envs, env.n_players
    bp = np.tile(np.asarray(ball_pos, np.float64), (n, 1))
    bv = np.tile(np.asarray(ball_vel, np.float64), (n, 1))
    pp = np.tile(np.asarray(player_pos, np.float64), (n, 1, 1))
    pv = np.zeros((n, p, 2)) if player_vel is None else np.tile(np.asarray(player_vel, np.float64), (n, 1, 1))
    env.set_state(bp, bv, pp, pv)


def assert_same_state(a, b):
    """Snapshots equal bit for bit."""
    for x, y in zip(a, b):
        assert x.dtype == y.dtype and x.shape == y.shape
        assert x.tobytes() == y.tobytes()


def run_python(code, one_cpu=False, timeout=120):
    """Runs code in a fresh interpreter that imports this same module; with
    one_cpu, the process is limited to one processor before the import."""
    prefix = "import os\n"
    if one_cpu:
        prefix += "os.sched_setaffinity(0, {min(os.sched_getaffinity(0))})\n"
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    out = subprocess.run([sys.executable, "-c", prefix + textwrap.dedent(code)], env=env,
                         capture_output=True, text=True, timeout=timeout)
    assert out.returncode == 0, out.stderr
    return out.stdout


@pytest.fixture
def classic():
    return vexlo_core.VecEnv(4, 1, 1)
