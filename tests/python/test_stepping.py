"""physics_step, reset_all, reset_mask and rollout_bench."""
import numpy as np
import pytest

from conftest import BLUE, KICK_STADIUM, actions, assert_same_state, place
from vexlo_core import VecEnv


@pytest.mark.parametrize("bad", [
    np.zeros((4, 2, 3), np.float64), np.zeros((4, 2, 3), np.int32),
    np.zeros((4, 2, 3), ">i8"),  # int64, but not in native byte order
    np.zeros((4, 6), np.int64), [[[0, 0, 0]] * 2] * 4,
])
def test_actions_type_errors(classic, bad):
    with pytest.raises(TypeError, match="^argument 'actions': "):
        classic.physics_step(bad)


def test_actions_shape_and_result(classic):
    with pytest.raises(ValueError) as err:
        classic.physics_step(np.zeros((4, 2, 2), np.int64))
    assert str(err.value) == \
        "physics_step: actions shape [4, 2, 2] != expected (n_envs=4, n_players=2, 3)"
    assert classic.snapshot()[4].tolist() == [0] * 4
    scored = classic.physics_step(actions=actions(4, 2).view(type("Sub", (np.ndarray,), {})))
    assert scored.dtype == np.int8 and scored.flags.owndata and scored.tolist() == [-1] * 4


def test_any_layout_reads_the_same():
    rng = np.random.default_rng(7)
    dense = rng.integers(-3, 4, size=(6, 4, 3))
    dense[..., 2] = rng.integers(0, 3, size=(6, 4))
    big = np.zeros((12, 8, 9), np.int64)
    big[::2, 1::2, ::3] = dense
    views = [np.asfortranarray(dense), big[::2, 1::2, ::3],
             np.ascontiguousarray(dense[::-1, ::-1, ::-1])[::-1, ::-1, ::-1]]
    ref, envs = VecEnv(6, 2, 2, tick_skip=3), [VecEnv(6, 2, 2, tick_skip=3) for _ in views]
    for _ in range(40):
        expected = ref.physics_step(dense).tolist()
        assert [env.physics_step(v).tolist() for env, v in zip(envs, views)] == [expected] * 3
    for env in envs:
        assert_same_state(env.snapshot(), ref.snapshot())


def test_batched_environments_step_like_lone_ones():
    # A batch is stepped several environments per instruction, with a partial
    # group at the end; a lone environment takes the plain tick. Chasing the
    # ball with every kind of kick makes contacts, kicks and goals happen.
    n, rng = 11, np.random.default_rng(3)
    batch, lone = VecEnv(n, 2, 2), [VecEnv(1, 2, 2) for _ in range(n)]
    goals = 0
    for _ in range(150):
        ball, _, players, _, _ = batch.snapshot()
        a = np.sign(ball[:, None, :] - players).astype(np.int64)
        a = np.concatenate([a + rng.integers(-1, 2, a.shape), rng.integers(0, 3, (n, 4, 1))], axis=2)
        scored = batch.physics_step(a)
        goals += int((scored >= 0).sum())
        assert [env.physics_step(a[i:i + 1])[0] for i, env in enumerate(lone)] == scored.tolist()
    assert goals > 0
    for i, env in enumerate(lone):
        assert_same_state(env.snapshot(), tuple(x[i:i + 1] for x in batch.snapshot()))


# Stadium disc 0 sits at (100, 0); only its mask differs.
LOWER_DISC = '{"discs":[{"pos":[100,0],"cMask":%s}]}'


@pytest.mark.parametrize("n_envs", [1, 3])  # a lone environment, and a batch stepped in lanes
@pytest.mark.parametrize("stadium, player_mask, touch", [
    (None, 39, True),
    (None, 62, False),  # the player's mask lacks the ball
    (LOWER_DISC % '["all"]', 39, True),
    (LOWER_DISC % '["ball","blue","wall"]', 39, False),  # the lower disc's mask lacks red
])
def test_a_pair_collides_only_when_each_mask_admits_the_other(n_envs, stadium, player_mask, touch):
    """The red player rests across the resting ball (or across the stadium
    disc, which comes before it); one tick shows whether they touched."""
    env = (VecEnv(n_envs, 1, 1, tick_skip=1) if stadium is None
           else VecEnv.from_vxs(stadium, n_envs, 1, 1, tick_skip=1))
    on = (0.0, 20.0) if stadium is None else (100.0, 20.0)
    place(env, (0.0, 0.0), [on, (-200.0, 100.0)])
    env.set_player_cmask(player_mask)
    env.physics_step(actions(n_envs, 2))
    ball, _, players, _, _ = env.snapshot()
    assert (players[:, 0] != on).any(axis=1).tolist() == [touch] * n_envs
    assert (ball != 0).any(axis=1).tolist() == [touch and stadium is None] * n_envs


def test_idle_players_leave_everything_in_place(classic):
    before = classic.snapshot()
    for call in range(1, 4):
        classic.physics_step(actions(4, 2))
        assert_same_state(classic.snapshot()[:4], before[:4])
        assert classic.snapshot()[4].tolist() == [8 * call] * 4


def shoot_at_blue_goal(env, e):
    """The ball of environment e crosses x = 370 (blue's goal) on the third tick."""
    snap = env.snapshot()
    snap[0][e], snap[1][e] = (361.0, 0.0), (4.0, 0.0)
    env.set_state(*snap)


def test_goal_ends_that_environment_early_then_kickoff_follows(classic):
    fresh = classic.snapshot()
    shoot_at_blue_goal(classic, 1)
    assert classic.physics_step(actions(4, 2)).tolist() == [-1, BLUE, -1, -1]
    assert classic.snapshot()[4].tolist() == [8, 3, 8, 8]
    # 150 ticks from the goal to the kickoff placement: 19 calls of 8.
    for _ in range(18):
        assert classic.physics_step(actions(4, 2)).tolist() == [-1] * 4
    assert classic.snapshot()[0][1, 0] > 370
    classic.physics_step(actions(4, 2))
    assert_same_state(classic.snapshot()[:4], fresh[:4])


class TestKicks:
    """The ball cannot move, so the kicker stays in reach and each kick
    pushes it back: the player's state counts the kicks."""

    @staticmethod
    def run(kicks, tick_skip=1, rate=None):
        env = VecEnv.from_vxs(KICK_STADIUM, 2, 1, 1, tick_skip=tick_skip)
        place(env, (0.0, 0.0), [(-25.5, 0.0), (200.0, 50.0)])
        if rate:
            env.set_kick_rate_limit(*rate)
        for k in kicks:
            a = actions(2, 2)
            a[:, 0, 2] = k
            env.physics_step(a)
        return env

    def test_held_kick_fires_once_across_calls(self):
        once = self.run([1], tick_skip=8)
        assert_same_state(once.snapshot(), self.run([1] * 8).snapshot())
        assert_same_state(once.snapshot(), self.run([1, 0, 0, 0, 0, 0, 0, 0]).snapshot())
        assert once.snapshot()[3][0, 0, 0] < 0
        once.physics_step(actions(2, 2, kick=1))
        assert once.kick_state()[0].tolist() == [0, 1]  # slot 1 pressed anew

    def test_rearmed_kick_fires_as_the_cooldown_allows(self):
        rearmed = self.run([2], tick_skip=8).snapshot()
        assert_same_state(rearmed, self.run([1, 0, 1, 0, 1, 0, 1, 0]).snapshot())  # min 2

    @pytest.mark.parametrize("rate, pattern", [
        ((6, 0, 1), [1, 0, 0, 0, 0, 0, 1, 0]),  # cooldown 6
        ((0, 3, 1), [1, 0, 1, 0, 0, 1, 0, 0]),  # credit: cost 3, cap 1
    ])
    def test_kick_rate_limit(self, rate, pattern):
        limited = self.run([2] * 8, rate=rate).snapshot()
        assert_same_state(limited, self.run(pattern).snapshot())
        assert limited[3][0].tobytes() == limited[3][1].tobytes()  # every env


def random_play(n=4):
    env, rng = VecEnv(n, 2, 2), np.random.default_rng(1)
    for _ in range(30):
        env.physics_step(rng.integers(-1, 2, size=(n, 4, 3)))
    return env


def test_reset_all():
    env = random_play()
    env.set_state(*env.snapshot()[:4], steps=np.full(4, 99))
    env.reset_all()
    assert_same_state(env.snapshot(), VecEnv(4, 2, 2).snapshot())


def test_reset_all_gives_red_the_kickoff():
    """Blue conceded, so blue kicks off and its player walks to the ball;
    after reset_all red kicks off and the centre circle holds blue out."""
    def blue_x(reset):
        env = VecEnv(1, 1, 1)
        shoot_at_blue_goal(env, 0)
        for _ in range(20):
            env.physics_step(actions(1, 2))
        if reset:
            env.reset_all()
        for _ in range(20):
            env.physics_step(np.array([[[0, 0, 0], [-1, 0, 0]]]))
        return env.snapshot()[2][0, 1, 0]
    assert blue_x(reset=True) == 90.0 and blue_x(reset=False) < 75


def test_reset_mask(classic):
    env = random_play()
    before = env.snapshot()
    env.reset_mask(np.zeros(4, bool))
    assert_same_state(env.snapshot(), before)
    wide = np.zeros(8, bool)
    wide[2] = True  # entry 1 of the strided view
    env.reset_mask(mask=wide[::2])
    for x, b, f in zip(env.snapshot(), before, VecEnv(4, 2, 2).snapshot()):
        assert x[1].tobytes() == f[1].tobytes() and x[[0, 2, 3]].tobytes() == b[[0, 2, 3]].tobytes()
    with pytest.raises(ValueError) as err:
        classic.reset_mask(np.ones(3, bool))
    assert str(err.value) == "reset_mask: mask length 3 != n_envs 4"
    for bad in (np.ones(4, np.int64), [True] * 4):
        with pytest.raises(TypeError, match="^argument 'mask': "):
            classic.reset_mask(bad)


def test_rollout_bench(classic):
    before = classic.snapshot()
    assert classic.rollout_bench(0) == 0
    assert_same_state(classic.snapshot(), before)
    assert classic.rollout_bench(n_steps=100) == 400
    assert classic.snapshot()[4].tolist() == [100] * 4
    with pytest.raises(OverflowError):
        classic.rollout_bench(-1)
    with pytest.raises(TypeError, match="^argument 'n_steps': "):
        classic.rollout_bench(1.0)
    # Its inputs: all move (1, 1) and hold kick, except slot 0 alternating.
    bench, stepped = VecEnv(3, 2, 1, tick_skip=1), VecEnv(3, 2, 1, tick_skip=1)
    bench.rollout_bench(50)
    a = actions(3, 3, dx=1, dy=1, kick=1)
    for t in range(50):
        a[:, 0, 2] = 1 - t % 2
        stepped.physics_step(a)
    assert_same_state(bench.snapshot(), stepped.snapshot())


def test_long_rollout_bench_keeps_the_input_alternation():
    """A long run goes in chunks, with a look for Ctrl-C between them; every
    chunk must start on an odd tick. With 4100 environments an even split of
    the per-chunk budget would give chunks of 1023 steps; the players, pressed
    into a corner, show a kick held one tick too long for a while after."""
    n, steps = 4100, 1100
    bench, stepped = VecEnv(n, 1, 1, tick_skip=1), VecEnv(n, 1, 1, tick_skip=1)
    assert bench.rollout_bench(steps) == n * steps
    a = actions(n, 2, dx=1, dy=1, kick=1)
    for t in range(steps):
        a[:, 0, 2] = 1 - t % 2
        stepped.physics_step(a)
    assert_same_state(bench.snapshot(), stepped.snapshot())
