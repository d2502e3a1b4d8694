"""snapshot, set_state, kick_state, set_kick_rate_limit, set_player_cmask."""
import numpy as np
import pytest

import vexlo_core
from conftest import KICK_STADIUM, actions, assert_same_state, place

VecEnv = vexlo_core.VecEnv


def test_snapshot_layout(classic):
    snap = classic.snapshot()
    assert [a.dtype for a in snap] == [np.float64] * 4 + [np.int64]
    assert [a.shape for a in snap] == [(4, 2), (4, 2), (4, 2, 2), (4, 2, 2), (4,)]
    assert all(a.flags.c_contiguous and a.flags.owndata for a in snap)
    assert snap[2][0].tolist() == [[-277.5, 0.0], [277.5, 0.0]]
    assert classic.snapshot()[0] is not snap[0]


class TestSetState:
    def state(self, n=3, p=2, seed=0):
        rng = np.random.default_rng(seed)
        values = [rng.normal(size=s) * 100 for s in [(n, 2), (n, 2), (n, p, 2), (n, p, 2)]]
        values[0][0, 0], values[1][0, 1], values[2][0, 0, 0] = -0.0, 1e-300, np.nan
        return values + [rng.integers(0, 10**6, size=n)]

    def test_round_trip_bit_exact(self):
        env = VecEnv(3, 1, 1)
        s = self.state()
        env.set_state(*s)
        got = env.snapshot()
        for x, y in zip(got, s):
            assert x.tobytes() == y.tobytes()
        env.set_state(*got)
        assert_same_state(env.snapshot(), got)

    def test_steps_default_and_wrapping(self):
        env = VecEnv(3, 1, 1)
        env.set_state(*self.state()[:4])
        assert env.snapshot()[4].tolist() == [0, 0, 0]
        env.reset_all()
        env.set_state(*env.snapshot()[:4], steps=np.array([-1, 2**63 - 1, 0]))
        assert env.snapshot()[4].tolist() == [-1, 2**63 - 1, 0]
        env.physics_step(actions(3, 2))
        assert env.snapshot()[4].tolist() == [7, -(2**63) + 7, 8]

    def test_any_layout(self):
        env, ref = VecEnv(3, 2, 1), VecEnv(3, 2, 1)
        s = self.state(p=3)
        ref.set_state(*s)
        big = np.zeros((2, 2, 6, 9))
        big[1, ::-1, ::2, ::4] = s[3].transpose(2, 1, 0)
        player_vel = big[1, ::-1, ::2, ::4].transpose(2, 1, 0)
        assert not player_vel.flags.c_contiguous and player_vel.shape == (3, 3, 2)
        env.set_state(np.asfortranarray(s[0]), s[1][::-1][::-1], s[2], player_vel,
                      steps=np.repeat(s[4], 2)[::2])
        assert_same_state(env.snapshot(), ref.snapshot())

    def test_clears_kicks_and_plays(self):
        env = VecEnv.from_vxs(KICK_STADIUM, 1, 1, 1, tick_skip=1)
        place(env, (0.0, 0.0), [(-25.5, 0.0), (200.0, 0.0)])
        env.physics_step(actions(1, 2, kick=1))
        assert env.kick_state()[1].tolist() == [2, 0]
        env.set_state(*env.snapshot())
        assert [a.tolist() for a in env.kick_state()] == [[0, 0], [0, 0]]
        # The same held input kicks again: the held state was cleared.
        env.physics_step(actions(1, 2, kick=1))
        assert env.kick_state()[1].tolist() == [2, 0]

    def test_messages_and_nothing_written(self, classic):
        s = [a.copy() for a in classic.snapshot()]
        before = classic.snapshot()
        s[2][:] = 5.0
        cases = [
            ((s[0], np.zeros((4, 3)), s[2], s[3]),
             "set_state: ball_pos [4, 2] / ball_vel [4, 3] must both be (n_envs=4, 2)"),
            ((s[0][:3], s[1], s[2], s[3]),
             "set_state: ball_pos [3, 2] / ball_vel [4, 2] must both be (n_envs=4, 2)"),
            ((s[0], s[1], np.zeros((4, 3, 2)), s[3]),
             "set_state: player_pos [4, 3, 2] / player_vel [4, 2, 2] must both be "
             "(n_envs=4, n_players=2, 2)"),
            ((s[0], s[1], s[2], s[3], np.zeros(5, np.int64)),
             "set_state: steps length 5 != n_envs 4"),
        ]
        for args, message in cases:
            with pytest.raises(ValueError) as err:
                classic.set_state(*args)
            assert str(err.value) == message
        assert_same_state(classic.snapshot(), before)

    def test_type_errors_in_signature_order(self, classic):
        s = classic.snapshot()
        with pytest.raises(TypeError, match="^argument 'ball_pos': "):
            classic.set_state(s[0].astype(np.float32), s[1], s[2], s[3], [0] * 4)
        with pytest.raises(TypeError, match="^argument 'player_vel': "):
            classic.set_state(s[0], s[1], s[2], s[3][0])
        for bad in ([0] * 4, s[4].astype(np.int32)):
            with pytest.raises(TypeError, match="^argument 'steps': "):
                classic.set_state(*s[:4], steps=bad)


def test_kick_state_reports_environment_zero():
    env = VecEnv(5, 2, 1)
    flag, cooldown = env.kick_state()
    assert flag.dtype == cooldown.dtype == np.int64
    assert flag.shape == cooldown.shape == (3,)
    a = actions(5, 3)
    a[1:, :, 2] = 1  # every environment but 0 presses kick
    env.physics_step(a)
    assert env.kick_state()[0].tolist() == [0, 0, 0]
    a[0, 2, 2] = 1
    env.physics_step(a)
    assert env.kick_state()[0].tolist() == [0, 0, 1]


class TestKickRateLimit:
    """Same kick stadium as the stepping tests: the kicker's state counts kicks."""

    def run(self, kicks, rate=None, n=2):
        env = VecEnv.from_vxs(KICK_STADIUM, n, 1, 1, tick_skip=1)
        place(env, (0.0, 0.0), [(-25.5, 0.0), (200.0, 50.0)])
        if rate is not None:
            env.set_kick_rate_limit(*rate)
        for k in kicks:
            a = actions(n, 2)
            a[:, 0, 2] = k
            env.physics_step(a)
        return env.snapshot()

    def test_cooldown(self):
        # min 6: a re-armed kick fires on ticks 1 and 7, as a default-limit
        # player who presses only on those ticks.
        limited = self.run([2] * 8, rate=(6, 0, 1))
        assert_same_state(limited, self.run([1, 0, 0, 0, 0, 0, 1, 0]))
        assert limited[3][0].tobytes() == limited[3][1].tobytes()  # every env

    def test_credit(self):
        # cost 3, cap 1, no cooldown: kicks on ticks 1, 3 and 6.
        limited = self.run([2] * 8, rate=(0, 3, 1))
        assert_same_state(limited, self.run([1, 0, 1, 0, 0, 1, 0, 0]))

    def test_keyword_and_current_state_kept(self):
        env = VecEnv.from_vxs(KICK_STADIUM, 1, 1, 1, tick_skip=1)
        place(env, (0.0, 0.0), [(-25.5, 0.0), (200.0, 50.0)])
        env.physics_step(actions(1, 2, kick=1))
        env.set_kick_rate_limit(cap=1, cost=0, min=6)
        assert env.kick_state()[1].tolist() == [2, 0]

    def test_arguments(self, classic):
        with pytest.raises(TypeError, match="^argument 'cost': "):
            classic.set_kick_rate_limit(1, "2", 3)
        with pytest.raises(OverflowError):
            classic.set_kick_rate_limit(1, 2, 2**63)
        classic.set_kick_rate_limit(-(2**63), 2**63 - 1, 0)


class TestPlayerCmask:
    """A red player runs at the kickoff barrier's centre line (x = 0, |y| >
    75), which only masks with a kickoff bit collide with."""

    def run_into_line(self, env):
        place(env, (0.0, 0.0), [(-20.0, 120.0), (300.0, 0.0)], player_vel=[(10.0, 0.0), (0.0, 0.0)])
        env.physics_step(actions(1, 2))
        return env.snapshot()[2][0, 0, 0]

    def test_mask_lasts_one_tick(self):
        env = VecEnv(1, 1, 1, tick_skip=1)
        free = self.run_into_line(env)
        env.set_player_cmask(47)
        blocked = self.run_into_line(env)
        again = self.run_into_line(env)  # the tick put 39 back
        assert free == again == -10.0
        assert blocked < -10.0

    def test_argument(self, classic):
        with pytest.raises(TypeError, match="^argument 'mask': "):
            classic.set_player_cmask(1.5)
        with pytest.raises(OverflowError):
            classic.set_player_cmask(2**64)
