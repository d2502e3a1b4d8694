"""physics_step, reset_all, reset_mask and rollout_bench."""
import numpy as np
import pytest

import vexlo_core
from conftest import BLUE, KICK_STADIUM, RED, actions, assert_same_state, place

VecEnv = vexlo_core.VecEnv


class TestActionsArgument:
    @pytest.mark.parametrize("bad", [
        np.zeros((4, 2, 3), np.float64),
        np.zeros((4, 2, 3), np.int32),
        np.zeros((4, 2, 3), ">i8"),  # int64, but not in native byte order
        np.zeros((4, 6), np.int64),
        [[[0, 0, 0]] * 2] * 4,
    ])
    def test_type_errors_name_actions(self, classic, bad):
        with pytest.raises(TypeError, match="^argument 'actions': "):
            classic.physics_step(bad)
        assert classic.snapshot()[4].tolist() == [0] * 4

    def test_shape_message(self, classic):
        with pytest.raises(ValueError) as err:
            classic.physics_step(np.zeros((4, 2, 2), np.int64))
        assert str(err.value) == \
            "physics_step: actions shape [4, 2, 2] != expected (n_envs=4, n_players=2, 3)"
        with pytest.raises(ValueError, match=r"shape \[3, 2, 3\]"):
            classic.physics_step(np.zeros((3, 2, 3), np.int64))
        assert classic.snapshot()[4].tolist() == [0] * 4

    def test_keyword_and_subclass(self, classic):
        class Sub(np.ndarray):
            pass
        scored = classic.physics_step(actions=actions(4, 2).view(Sub))
        assert scored.dtype == np.int8 and scored.tolist() == [-1] * 4
        assert scored.flags.c_contiguous and scored.flags.owndata

    def test_any_layout_reads_the_same(self):
        rng = np.random.default_rng(7)
        dense = rng.integers(-3, 4, size=(6, 4, 3)).astype(np.int64)
        dense[..., 2] = rng.integers(0, 3, size=(6, 4))
        big = np.zeros((12, 8, 9), np.int64)
        big[::2, 1::2, ::3] = dense
        views = {
            "fortran": np.asfortranarray(dense),
            "transposed": np.ascontiguousarray(dense.transpose(2, 1, 0)).transpose(2, 1, 0),
            "sliced": big[::2, 1::2, ::3],
            "reversed": np.ascontiguousarray(dense[::-1, ::-1, ::-1])[::-1, ::-1, ::-1],
        }
        ref = VecEnv(6, 2, 2, tick_skip=3)
        envs = {k: VecEnv(6, 2, 2, tick_skip=3) for k in views}
        for _ in range(40):
            expected = ref.physics_step(dense)
            for k, v in views.items():
                assert envs[k].physics_step(v).tolist() == expected.tolist(), k
        for env in envs.values():
            assert_same_state(env.snapshot(), ref.snapshot())


def test_idle_players_leave_everything_in_place(classic):
    before = classic.snapshot()
    for call in range(1, 4):
        assert classic.physics_step(actions(4, 2)).tolist() == [-1] * 4
        after = classic.snapshot()
        assert_same_state(after[:4], before[:4])
        assert after[4].tolist() == [8 * call] * 4


def shoot_at_blue_goal(env, e):
    """Ball of environment e heading into the goal at x = 370 (blue defends);
    its centre crosses the line on the third tick."""
    snap = env.snapshot()
    ball_pos, ball_vel = snap[0].copy(), snap[1].copy()
    ball_pos[e], ball_vel[e] = (361.0, 0.0), (4.0, 0.0)
    env.set_state(ball_pos, ball_vel, snap[2], snap[3], snap[4])


class TestGoals:
    def test_goal_stops_that_environment_early(self, classic):
        shoot_at_blue_goal(classic, 1)
        scored = classic.physics_step(actions(4, 2))
        assert scored.tolist() == [-1, BLUE, -1, -1]
        assert classic.snapshot()[4].tolist() == [8, 3, 8, 8]

    def test_delay_then_automatic_kickoff(self, classic):
        fresh = classic.snapshot()
        shoot_at_blue_goal(classic, 0)
        assert classic.physics_step(actions(4, 2))[0] == BLUE
        # 150 ticks from the goal to the kickoff placement: 18 calls are not
        # enough, the 19th places it (and no call reports the goal again).
        for _ in range(18):
            assert classic.physics_step(actions(4, 2)).tolist() == [-1] * 4
        assert classic.snapshot()[0][0, 0] > 370
        assert classic.physics_step(actions(4, 2)).tolist() == [-1] * 4
        snap = classic.snapshot()
        assert_same_state(snap[:4], fresh[:4])
        assert snap[4].tolist() == [3 + 19 * 8, 160, 160, 160]


class TestKicks:
    """The ball cannot move, so the kicker stays in reach and every kick
    pushes it back: the player's state counts the kicks."""

    def setup(self, tick_skip):
        env = VecEnv.from_vxs(KICK_STADIUM, 2, 1, 1, tick_skip=tick_skip)
        place(env, (0.0, 0.0), [(-25.5, 0.0), (200.0, 50.0)])
        return env

    def run(self, kicks, tick_skip=1, rate=None):
        env = self.setup(tick_skip)
        if rate:
            env.set_kick_rate_limit(*rate)
        for k in kicks:
            a = actions(2, 2)
            a[:, 0, 2] = k
            env.physics_step(a)
        return env

    def test_held_kick_fires_once_per_press(self):
        one_call = self.run([1], tick_skip=8).snapshot()
        per_tick_held = self.run([1] * 8).snapshot()
        single_press = self.run([1, 0, 0, 0, 0, 0, 0, 0]).snapshot()
        assert_same_state(one_call, per_tick_held)
        assert_same_state(one_call, single_press)
        assert one_call[3][0, 0, 0] < 0  # it did kick

    def test_held_across_calls_does_not_rearm(self):
        env = self.run([1], tick_skip=8)
        assert env.kick_state()[0].tolist() == [0, 0]
        env.physics_step(actions(2, 2, kick=1))
        assert env.kick_state()[0].tolist() == [0, 1]  # slot 1 pressed anew
        env.physics_step(actions(2, 2, kick=2))
        assert env.kick_state()[0][0] == 1

    def test_rearmed_kick_fires_as_the_cooldown_allows(self):
        rearmed = self.run([2], tick_skip=8).snapshot()
        # Default min cooldown 2: kicks on ticks 1, 3, 5 and 7.
        assert_same_state(rearmed, self.run([1, 0, 1, 0, 1, 0, 1, 0]).snapshot())
        held = self.run([1], tick_skip=8).snapshot()
        assert rearmed[3][0, 0, 0] < held[3][0, 0, 0]


class TestResets:
    def stepped(self, n=4):
        env = VecEnv(n, 2, 2)
        rng = np.random.default_rng(1)
        for _ in range(30):
            env.physics_step(rng.integers(-1, 2, size=(n, 4, 3)).astype(np.int64))
        return env

    def test_reset_all(self):
        env = self.stepped()
        env.set_state(*env.snapshot()[:4], steps=np.full(4, 99, np.int64))
        env.reset_all()
        assert_same_state(env.snapshot(), VecEnv(4, 2, 2).snapshot())

    def test_reset_all_gives_red_the_kickoff(self):
        """Blue conceded, so blue kicks off: its player walks to the ball.
        After reset_all red kicks off and the centre circle holds blue out."""
        def blue_x_after_walking(reset):
            env = VecEnv(1, 1, 1)
            shoot_at_blue_goal(env, 0)
            for _ in range(20):  # goal, then the post-goal delay
                env.physics_step(actions(1, 2))
            if reset:
                env.reset_all()
            walk = actions(1, 2)
            walk[0, 1] = (-1, 0, 0)
            for _ in range(20):
                env.physics_step(walk)
            return env.snapshot()[2][0, 1, 0]
        assert blue_x_after_walking(reset=True) > 75 + 15 - 1
        assert blue_x_after_walking(reset=False) < 75

    def test_reset_mask(self):
        env = self.stepped()
        before = env.snapshot()
        env.reset_mask(np.zeros(4, bool))
        assert_same_state(env.snapshot(), before)
        wide = np.zeros(8, bool)
        wide[2] = True  # entry 1 of the strided view below
        env.reset_mask(mask=wide[::2])
        after, fresh = env.snapshot(), VecEnv(4, 2, 2).snapshot()
        for x, b, f in zip(after, before, fresh):
            assert x[1].tobytes() == f[1].tobytes()
            assert x[[0, 2, 3]].tobytes() == b[[0, 2, 3]].tobytes()

    def test_reset_mask_errors(self, classic):
        with pytest.raises(ValueError) as err:
            classic.reset_mask(np.ones(3, bool))
        assert str(err.value) == "reset_mask: mask length 3 != n_envs 4"
        for bad in (np.ones(4, np.int64), [True] * 4, np.ones((4, 1), bool)):
            with pytest.raises(TypeError, match="^argument 'mask': "):
                classic.reset_mask(bad)


class TestRolloutBench:
    def test_counts_and_advances(self, classic):
        before = classic.snapshot()
        assert classic.rollout_bench(0) == 0
        assert_same_state(classic.snapshot(), before)
        assert classic.rollout_bench(n_steps=100) == 400
        assert classic.snapshot()[4].tolist() == [100] * 4

    def test_same_pattern_as_stepping(self):
        """Slot 0 alternates its kick, the others hold it, all move (1, 1)."""
        bench, stepped = VecEnv(3, 2, 1, tick_skip=1), VecEnv(3, 2, 1, tick_skip=1)
        bench.rollout_bench(50)
        a = actions(3, 3, dx=1, dy=1, kick=1)
        for t in range(50):
            a[:, 0, 2] = 1 - t % 2
            stepped.physics_step(a)
        assert_same_state(bench.snapshot(), stepped.snapshot())

    def test_argument(self, classic):
        with pytest.raises(OverflowError):
            classic.rollout_bench(-1)
        with pytest.raises(TypeError, match="^argument 'n_steps': "):
            classic.rollout_bench(1.0)
        assert classic.snapshot()[4].tolist() == [0] * 4
