"""snapshot, set_state, kick_state, set_kick_rate_limit, set_player_cmask."""
import numpy as np
import pytest

from conftest import KICK_STADIUM, actions, assert_same_state, place
from vexlo_core import VecEnv


def random_state(n=3, p=2):
    rng = np.random.default_rng(0)
    values = [rng.normal(size=s) * 100 for s in [(n, 2), (n, 2), (n, p, 2), (n, p, 2)]]
    values[0][0, 0], values[1][0, 1], values[2][0, 0, 0] = -0.0, 1e-300, np.nan
    return values + [rng.integers(0, 10**6, size=n)]


def test_snapshot_layout(classic):
    snap = classic.snapshot()
    assert [(a.dtype, a.shape) for a in snap] == [
        (np.float64, (4, 2)), (np.float64, (4, 2)), (np.float64, (4, 2, 2)),
        (np.float64, (4, 2, 2)), (np.int64, (4,))]
    assert all(a.flags.c_contiguous and a.flags.owndata for a in snap)
    assert snap[2][0].tolist() == [[-277.5, 0.0], [277.5, 0.0]]


def test_round_trip_bit_exact():
    env, s = VecEnv(3, 1, 1), random_state()
    env.set_state(*s)
    assert [x.tobytes() for x in env.snapshot()] == [y.tobytes() for y in s]
    env.set_state(*s[:4])
    assert env.snapshot()[4].tolist() == [0, 0, 0]


def test_steps_stored_unchanged():
    env = VecEnv(3, 1, 1)
    env.set_state(*env.snapshot()[:4], steps=np.array([-1, 2**63 - 1, 0]))
    env.physics_step(actions(3, 2))
    assert env.snapshot()[4].tolist() == [7, -(2**63) + 7, 8]


def test_any_layout():
    env, ref, s = VecEnv(3, 2, 1), VecEnv(3, 2, 1), random_state(p=3)
    ref.set_state(*s)
    big = np.zeros((2, 2, 6, 9))
    big[1, ::-1, ::2, ::4] = s[3].transpose(2, 1, 0)
    player_vel = big[1, ::-1, ::2, ::4].transpose(2, 1, 0)
    env.set_state(np.asfortranarray(s[0]), s[1], s[2], player_vel, np.repeat(s[4], 2)[::2])
    assert_same_state(env.snapshot(), ref.snapshot())


def test_clears_kick_state():
    env = VecEnv.from_vxs(KICK_STADIUM, 1, 1, 1, tick_skip=1)
    place(env, (0.0, 0.0), [(-25.5, 0.0), (200.0, 0.0)])
    env.physics_step(actions(1, 2, kick=1))
    env.set_kick_rate_limit(6, 0, 1)  # leaves the current cooldown alone
    assert env.kick_state()[1].tolist() == [2, 0]
    env.set_state(*env.snapshot())
    assert [a.tolist() for a in env.kick_state()] == [[0, 0], [0, 0]]
    env.physics_step(actions(1, 2, kick=1))  # no longer held: kicks again
    assert env.kick_state()[1].tolist() == [6, 0]


def test_errors_and_nothing_written(classic):
    s = [a.copy() for a in classic.snapshot()]
    before = classic.snapshot()
    s[2][:] = 5.0
    for args, message in [
        ((s[0], np.zeros((4, 3)), s[2], s[3]),
         "set_state: ball_pos [4, 2] / ball_vel [4, 3] must both be (n_envs=4, 2)"),
        ((s[0], s[1], np.zeros((4, 3, 2)), s[3]),
         "set_state: player_pos [4, 3, 2] / player_vel [4, 2, 2] must both be "
         "(n_envs=4, n_players=2, 2)"),
        ((s[0], s[1], s[2], s[3], np.zeros(5, np.int64)), "set_state: steps length 5 != n_envs 4"),
    ]:
        with pytest.raises(ValueError) as err:
            classic.set_state(*args)
        assert str(err.value) == message
    for args, name in [((s[0].astype(np.float32), s[1], s[2], s[3], [0] * 4), "ball_pos"),
                       ((s[0], s[1], s[2], s[3][0]), "player_vel"),
                       ((*s[:4], [0] * 4), "steps"), ((*s[:4], s[4].astype(np.int32)), "steps")]:
        with pytest.raises(TypeError, match=f"^argument '{name}': "):
            classic.set_state(*args)
    assert_same_state(classic.snapshot(), before)


def test_kick_state_reports_environment_zero():
    env = VecEnv(5, 2, 1)
    assert [(a.dtype, a.shape) for a in env.kick_state()] == [(np.int64, (3,))] * 2
    a = actions(5, 3)
    a[1:, :, 2] = 1
    env.physics_step(a)
    assert env.kick_state()[0].tolist() == [0, 0, 0]
    a[0, 2, 2] = 1
    env.physics_step(a)
    assert env.kick_state()[0].tolist() == [0, 0, 1]


def test_player_cmask_lasts_one_tick():
    """A red player runs at the centre line (x = 0, |y| > 75), which only
    masks with a kickoff bit collide with."""
    env = VecEnv(1, 1, 1, tick_skip=1)

    def run_into_line():
        place(env, (0.0, 0.0), [(-20.0, 120.0), (300.0, 0.0)], player_vel=[(10.0, 0.0), (0.0, 0.0)])
        env.physics_step(actions(1, 2))
        return env.snapshot()[2][0, 0, 0]
    free = run_into_line()
    env.set_player_cmask(47)
    blocked = run_into_line()
    assert free == run_into_line() == -10.0 and blocked < -10.0


def test_setting_arguments(classic):
    with pytest.raises(TypeError, match="^argument 'cost': "):
        classic.set_kick_rate_limit(1, "2", 3)
    with pytest.raises(OverflowError):
        classic.set_kick_rate_limit(1, 2, 2**63)
    with pytest.raises(TypeError, match="^argument 'mask': "):
        classic.set_player_cmask(1.5)
    classic.set_kick_rate_limit(min=-(2**63), cost=2**63 - 1, cap=0)
