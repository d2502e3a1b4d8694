"""Replay files: recording, bit-exact re-simulation, refusal of bad files, the CLI."""

import json
import os
import subprocess
import sys

import numpy as np
import pytest

import vexlo
import vexlo_core
from vexlo.replay import Recorder, ReplayError, load
from vexlo.replay.__main__ import kicking


def rewrite(src, dst, **changes):
    """A copy of the replay file ``src`` with some arrays replaced (None drops one)."""
    with np.load(src) as data:
        arrays = {k: data[k] for k in data.files}
    arrays.update(changes)
    with open(dst, "wb") as fh:  # a path would get ".npz" added
        np.savez_compressed(fh, **{k: v for k, v in arrays.items() if v is not None})
    return dst


def cli(*args):
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    return subprocess.run([sys.executable, "-m", "vexlo.replay", *map(str, args)], env=env,
                          capture_output=True, text=True, timeout=120)


@pytest.fixture(scope="module")
def recorded(tmp_path_factory):
    # Random kickoffs, a random opponent and short episodes: resets and
    # placements happen between steps, and must be kept as loaded states.
    env = vexlo.VectorEnv(6, 1, 1, step_limit=15 * 8, opponent=vexlo.RandomPolicy(),
                          kickoff=vexlo.RandomKickoff(ball_speed=3.0))
    env.reset(seed=3)
    rec = Recorder.attach(env, checkpoint_every=8)
    env.action_space.seed(4)
    for _ in range(40):
        env.step(env.action_space.sample())
    path = tmp_path_factory.mktemp("replay") / "match.vxr"
    rec.save(path)
    return path, rec, env.core.digest()


class TestRoundTrip:
    def test_recording_re_simulates_bit_for_bit(self, recorded):
        path, rec, final = recorded
        r = load(path)
        assert (r.n_envs, r.n_red, r.n_blue, r.tick_skip, r.step_limit, r.n_steps) == (6, 1, 1, 8, 120, 40)
        assert r.stadium == vexlo.CLASSIC_VXS and len(r.keyframes) >= 2
        assert r.actions.shape == (40, 6, 2, 3) and r.checkpoint_steps.tolist() == [8, 16, 24, 32, 40]
        assert r.verify() is None
        res = cli("verify", path)
        assert res.returncode == 0 and "40 steps of 6 environments re-simulate bit for bit" in res.stdout
        for core, _ in r.simulate():
            pass
        np.testing.assert_array_equal(core.digest(), final)

    def test_direct_stepping_with_changes_between_steps(self, tmp_path):
        core = vexlo_core.VecEnv(3, 2, 1)
        rng = np.random.default_rng(0)
        rec = Recorder(core, checkpoint_every=100)
        for t in range(12):
            rec.step(rng.integers(-1, 2, size=(3, 3, 3)))
            if t == 4:
                core.reset_mask(np.array([False, True, False]))
            if t == 7:
                core.set_kick_rate_limit(5, 2, 3)
        rec.save(tmp_path / "r.vxr")
        r = load(tmp_path / "r.vxr")
        assert [(s, m.tolist()) for s, m, _ in r.keyframes] == [(5, [False, True, False]), (8, [True] * 3)]
        assert r.actions.dtype == np.int64 and r.verify() is None
        # A replay of nothing still reads and checks its start.
        Recorder(core).save(tmp_path / "empty.vxr")
        assert load(tmp_path / "empty.vxr").verify() is None

    def test_parallel_env_across_its_resets(self, tmp_path):
        env = vexlo.ParallelEnv(2, 1, kickoff=vexlo.RandomKickoff(ball_speed=2.0))
        env.reset(seed=1)
        rec = Recorder.attach(env)
        for seed in (2, 3):
            env.reset(seed=seed)
            for _ in range(15):
                env.step({a: env.action_space(a).sample() for a in env.agents})
        rec.save(tmp_path / "p.vxr")
        r = load(tmp_path / "p.vxr")
        assert r.n_steps == 30 and [s for s, _, _ in r.keyframes] == [0, 15] and r.verify() is None

    def test_kick_flags_are_read_from_any_environment(self):
        core = vexlo_core.VecEnv(2, 2, 1)
        a = np.zeros((2, 3, 3), np.int64)
        a[0, 1, 2] = a[1, 0, 2] = a[1, 2, 2] = 1
        core.physics_step(a)
        flags = [kicking(core.save_state(np.arange(2) == i), 3).tolist() for i in range(2)]
        assert flags == [[False, True, False], [True, False, True]]
        assert flags[0] == (core.kick_state()[0] > 0).tolist()


class TestDivergence:
    @pytest.mark.parametrize("step,env", [(0, 0), (21, 4), (39, 5)])
    def test_a_changed_input_is_found_at_its_step(self, recorded, tmp_path, step, env):
        path, _, _ = recorded
        actions = load(path).actions.astype(np.int8)
        actions[step, env, 0, 0] = 1 if actions[step, env, 0, 0] != 1 else -1
        divergence = load(rewrite(path, tmp_path / "t.vxr", actions=actions)).verify()
        assert divergence.step == step and divergence.envs[0] == env
        if step == 21:
            res = cli("verify", tmp_path / "t.vxr")
            assert res.returncode == 1 and f"diverged at step {step} (environment {env}" in res.stdout

    def test_a_changed_digest_is_reported(self, recorded, tmp_path):
        path, _, _ = recorded
        r = load(path)
        digests = r.step_digests.copy()
        digests[9] ^= np.uint64(1)
        d = load(rewrite(path, tmp_path / "d.vxr", step_digests=digests)).verify()
        assert (d.step, d.envs) == (9, ())
        checks = r.checkpoint_digests.copy()
        checks[2, 3] ^= np.uint64(1)
        d = load(rewrite(path, tmp_path / "c.vxr", checkpoint_digests=checks)).verify()
        assert (d.step, d.envs) == (23, (3,))


class TestMalformed:
    def cases(self, path, tmp_path):
        raw = path.read_bytes()
        r = load(path)
        blob = bytearray(r.start)
        blob[200] ^= 0xFF
        stadium = json.dumps({"segments": [{"v0": 0, "v1": 1}]}).encode()
        (tmp_path / "a").write_bytes(raw[: len(raw) // 2])
        yield "truncated", tmp_path / "a", "truncated"
        (tmp_path / "b").write_bytes(b"hello")
        yield "not an archive", tmp_path / "b", "not a replay"
        yield "magic", rewrite(path, tmp_path / "c", magic=np.frombuffer(b"VEXLO-REPLAX", np.uint8)), "magic"
        yield "version", rewrite(path, tmp_path / "d", version=np.array([2])), "version \\[2\\]"
        yield "missing", rewrite(path, tmp_path / "e", step_digests=None), "no 'step_digests'"
        yield "sizes", rewrite(path, tmp_path / "f", sizes=np.array([6, 2, 1, 120, 8])), \
            r"'actions' has shape \(40, 6, 2, 3\), expected \(40, 6, 3, 3\)"
        yield "stadium", rewrite(path, tmp_path / "g", stadium=np.frombuffer(stadium, np.uint8)), \
            "stadium or sizes are refused: segment references missing vertex 0 / 1"
        yield "blob", rewrite(path, tmp_path / "h", start=np.frombuffer(bytes(blob), np.uint8)), \
            "start state is refused: .*checksum"
        yield "offsets", rewrite(path, tmp_path / "i", keyframe_blobs=np.zeros(3, np.uint8)), "keyframe_offsets"
        # Sizes and shapes that agree with each other but not with the start state.
        yield "held", rewrite(path, tmp_path / "j", sizes=np.array([10**12, 1, 1, 120, 8]),
                              actions=np.zeros((0, 10**12, 2, 3), np.int8), step_digests=np.zeros(0, np.uint64),
                              checkpoint_steps=np.zeros(0, np.int64), checkpoint_digests=np.zeros((0, 10**12), np.uint64),
                              keyframe_steps=np.zeros(0, np.int64), keyframe_masks=np.zeros((0, 10**12), bool),
                              keyframe_offsets=np.zeros(1, np.int64), keyframe_blobs=np.zeros(0, np.uint8)), \
            "start state holds 6 environments, not the 1000000000000"

    def test_bad_files_are_refused_with_what_is_wrong(self, recorded, tmp_path):
        path, _, _ = recorded
        for name, bad, message in self.cases(path, tmp_path):
            with pytest.raises(ReplayError, match=message):
                load(bad).verify()
            if name in ("truncated", "blob"):
                res = cli("verify", bad)
                assert res.returncode == 2 and "Traceback" not in res.stderr, name
                assert str(bad) in res.stderr

    def test_render_cli(self, recorded, tmp_path):
        path, _, _ = recorded
        res = cli("render", path, tmp_path / "m.gif", "--env", 3)
        assert res.returncode == 0, res.stderr
        from PIL import Image
        with Image.open(tmp_path / "m.gif") as gif:
            assert gif.n_frames == 41
        assert cli("render", path, tmp_path / "m.mp4").returncode == 2
        assert cli("render", path, tmp_path / "m.html", "--env", 6).returncode == 2
