import os
import shutil
import subprocess
import sys
import textwrap
import time

import numpy as np
import pytest

import vexlo_core

RED, BLUE = vexlo_core.FLAG_RED, vexlo_core.FLAG_BLUE

# No walls, and a ball that cannot be moved: a player beside it can kick it
# tick after tick, and each kick pushes the player back a little (kickback),
# so the number and timing of kicks show in the player's state.
KICK_STADIUM = '{"ballPhysics":{"invMass":0},"playerPhysics":{"kickback":0.2}}'


def actions(n_envs, n_players, dx=0, dy=0, kick=0):
    a = np.zeros((n_envs, n_players, 3), np.int64)
    a[..., 0], a[..., 1], a[..., 2] = dx, dy, kick
    return a


def place(env, ball_pos, player_pos, player_vel=None):
    """Puts the same resting ball and the same players into every environment."""
    n = env.n_envs
    pv = np.zeros((env.n_players, 2)) if player_vel is None else player_vel
    env.set_state(np.tile(np.asarray(ball_pos, float), (n, 1)), np.zeros((n, 2)),
                  np.tile(np.asarray(player_pos, float), (n, 1, 1)),
                  np.tile(np.asarray(pv, float), (n, 1, 1)))


def assert_same_state(a, b):
    for x, y in zip(a, b):
        assert x.dtype == y.dtype and x.shape == y.shape and x.tobytes() == y.tobytes()


def run_python(code, one_cpu=False, timeout=120):
    """Runs code in a fresh interpreter importing this same module; with
    one_cpu, limited to one processor before the module is used."""
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


@pytest.fixture(scope="session")
def x_display():
    """A virtual X display (Xvfb) as DISPLAY for the session's windows."""
    if shutil.which("Xvfb") is None:
        pytest.skip("needs Xvfb for windows (scripts/setup-dev.sh installs it)")
    display = f":{90 + os.getpid() % 1000}"
    server = subprocess.Popen(["Xvfb", display, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    socket = f"/tmp/.X11-unix/X{display[1:]}"
    for _ in range(200):  # the server takes a moment to listen
        if os.path.exists(socket) or server.poll() is not None:
            break
        time.sleep(0.02)
    before = os.environ.get("DISPLAY")
    os.environ["DISPLAY"] = display
    yield display
    if before is None:
        del os.environ["DISPLAY"]
    else:
        os.environ["DISPLAY"] = before
    server.terminate()
    server.wait()
