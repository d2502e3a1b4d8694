"""State blobs, digests, pickling and copying: a batch resumed from a saved
state steps to the bits of the uninterrupted one; anything damaged or foreign
is refused and changes nothing."""
import copy
import multiprocessing
import pathlib
import pickle

import numpy as np
import pytest

import vexlo_core as vc
from conftest import assert_same_state

ARENA = (pathlib.Path(__file__).parents[1] / "data" / "golden" / "curved_arena.vxs").read_text()


def chase(env, rng):
    """Players run at the ball, kicking, holding and re-arming at random."""
    ball, _, players, _, _ = env.snapshot()
    a = np.zeros((env.n_envs, env.n_players, 3), np.int64)
    a[..., :2] = np.sign(ball[:, None, :] - players).astype(np.int64)
    a[..., :2] *= rng.integers(0, 4, a[..., :2].shape) > 0
    a[..., 2] = rng.integers(0, 3, a.shape[:2])
    return a


def volley(env, rng):
    """Sends the ball of about half the environments at a goal."""
    ball, ball_vel, players, player_vel, steps = env.snapshot()
    pick = rng.random(env.n_envs) < 0.5
    side = np.where(rng.random(env.n_envs) < 0.5, 1.0, -1.0)
    ball[pick] = np.stack([side * 250, rng.uniform(-40, 40, env.n_envs)], 1)[pick]
    ball_vel[pick] = np.stack([side * 9, np.zeros(env.n_envs)], 1)[pick]
    env.set_state(ball, ball_vel, players, player_vel, steps)


@pytest.mark.parametrize("make", [
    lambda: vc.VecEnv(8, 1, 1, tick_skip=4),
    lambda: vc.VecEnv(8, 3, 3, step_limit=500),
    lambda: vc.VecEnv.from_vxs(ARENA, 8, 1, 2, tick_skip=3),
], ids=["classic-1v1", "classic-3v3", "movable-discs"])
def test_resuming_from_any_moment_steps_as_the_uninterrupted_batch(make):
    env, rng = make(), np.random.default_rng(0)
    env.set_kick_rate_limit(3, 2, 4)
    goals = 0
    for call in range(240):
        if call % 60 == 0:
            volley(env, rng)
        if call % 12 == 0:
            # Some environments back at the kickoff, where the barrier masks hold.
            env.reset_mask(rng.random(env.n_envs) < 0.2)
            # Resume through copies, pickles and blobs, in a fresh batch each time.
            resumed = [copy.copy(env), pickle.loads(pickle.dumps(env)), make()]
            resumed[2].load_state(env.save_state())
            for _ in range(25):
                a = chase(env, rng)
                scored = env.physics_step(a)
                for r in resumed:
                    assert (r.physics_step(a) == scored).all()
            for r in resumed:
                assert_same_state(r.snapshot(), env.snapshot())
                assert (r.digest() == env.digest()).all()
        goals += (env.physics_step(chase(env, rng)) >= 0).sum()
    assert goals > 0  # countdowns after goals were among the saved states


def test_masked_save_and_load_between_batches():
    a, b, rng = vc.VecEnv(5, 2, 1), vc.VecEnv(4, 2, 1), np.random.default_rng(1)
    for _ in range(30):
        a.physics_step(chase(a, rng))
    before = b.digest()
    b.load_state(a.save_state(np.array([0, 1, 0, 0, 1], bool)), mask=np.array([1, 0, 0, 1], bool))
    da, db = a.digest(), b.digest()
    assert (db[[0, 3]] == da[[1, 4]]).all() and (db[1:3] == before[1:3]).all()
    assert db[0] != before[0]


def test_refusals_name_the_fault_and_change_nothing():
    target, source, rng = vc.VecEnv(3, 2, 2), vc.VecEnv(3, 2, 2), np.random.default_rng(2)
    for _ in range(20):
        source.physics_step(chase(source, rng))
        target.physics_step(chase(target, rng))
    good = source.save_state()
    flipped = bytearray(good)
    flipped[200] ^= 1
    version = bytearray(good)
    version[8] = 7
    bad = {
        "truncated": good[:-3],
        "checksum": bytes(flipped),
        "version 7": bytes(version),
        "another stadium": vc.VecEnv.from_vxs(ARENA, 3, 2, 2).save_state(),
        "1v3": vc.VecEnv(3, 1, 3).save_state(),
        "holds 2 environments, but 3": vc.VecEnv(2, 2, 2).save_state(),
    }
    digests, snapshot = target.digest(), target.snapshot()
    for words, blob in bad.items():
        with pytest.raises(ValueError, match=words):
            target.load_state(blob)
        assert (target.digest() == digests).all()
        assert_same_state(target.snapshot(), snapshot)
    with pytest.raises(ValueError, match="mask length 2"):
        target.load_state(good, np.ones(2, bool))
    with pytest.raises(TypeError, match="blob"):
        target.load_state("text")
    target.load_state(memoryview(good))
    assert (target.digest() == source.digest()).all()


def test_digests_tell_states_apart_but_not_their_history():
    env = vc.VecEnv(4, 1, 1)
    d = env.digest()
    assert d.dtype == np.uint64 and len(set(d)) == 1
    env.physics_step(np.array([[[1, 0, 0], [0, 0, 0]]] * 2 + [[[0, 0, 0], [0, 0, 0]]] * 2))
    d = env.digest()
    assert d[0] == d[1] != d[2] == d[3]
    big = vc.VecEnv(300, 2, 2)
    for _ in range(5):
        big.physics_step(np.ones((300, 4, 3), np.int64))
    many = big.digest()
    vc.set_num_threads(1)
    try:
        assert (big.digest() == many).all()
    finally:
        vc.set_num_threads(0)


def test_a_pickle_travels_to_a_spawned_process():
    env, rng = vc.VecEnv.from_vxs(ARENA, 6, 2, 1, step_limit=99, tick_skip=5), np.random.default_rng(3)
    for _ in range(40):
        env.physics_step(chase(env, rng))
    with multiprocessing.get_context("spawn").Pool(1) as pool:
        assert (pool.apply(vc.VecEnv.digest, (env,)) == env.digest()).all()


def test_a_pickle_of_another_module_version_is_refused():
    data = pickle.dumps(vc.VecEnv(2, 1, 1))
    assert data.count(b"0.1.0") == 1
    with pytest.raises(ValueError, match="pickled by vexlo_core 9.9.9"):
        pickle.loads(data.replace(b"0.1.0", b"9.9.9"))


def test_copies_step_independently():
    env, rng = vc.VecEnv.from_vxs(ARENA, 3, 1, 1, tick_skip=2), np.random.default_rng(4)
    for _ in range(10):
        env.physics_step(chase(env, rng))
    for twin in (copy.copy(env), copy.deepcopy(env)):
        before = env.digest()
        twin.physics_step(chase(twin, rng))
        assert (env.digest() == before).all() and (twin.digest() != before).any()
        a = chase(env, rng)
        env.physics_step(a)
        twin.load_state(pickle.loads(pickle.dumps(env)).save_state())
        assert (twin.digest() == env.digest()).all()
