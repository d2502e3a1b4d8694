"""predict_ball: agreement with real stepping, offsets, arguments and state."""
import inspect
import json

import numpy as np
import pytest

from conftest import actions, assert_same_state
from vexlo_core import VecEnv

TICKS = 140  # the Classic runs end before any post-goal kickoff (150 ticks)


def place_balls(env, ball_pos, ball_vel, player_pos):
    n = env.n_envs
    env.set_state(np.asarray(ball_pos, float), np.asarray(ball_vel, float),
                  np.tile(np.asarray(player_pos, float), (n, 1, 1)),
                  np.zeros((n, env.n_players, 2)))


def step_ball(env, ticks):
    """The ball of every environment, now and after each of `ticks` real
    ticks with idle players, shape (N, ticks + 1, 2), and the goals scored.
    The players must not move: nothing touched the ball but the stadium."""
    players = env.snapshot()[2]
    path, scored = [env.snapshot()[0]], []
    for _ in range(ticks):
        scored.append(env.physics_step(actions(env.n_envs, env.n_players)))
        path.append(env.snapshot()[0])
    assert np.array_equal(env.snapshot()[2], players)
    return np.stack(path, axis=1), np.stack(scored, axis=1)


def assert_bits(a, b):
    assert a.dtype == b.dtype == np.float64 and a.shape == b.shape
    assert np.array_equal(a.view(np.int64), b.view(np.int64))


# Classic, players parked in the far corners. Into the net and around its
# rounded back corners, onto the top post, into the corner beside the goal,
# and across the kickoff barrier into the open goal; then random balls.
CLASSIC_CORNERS = [[-400.0, 185.0], [-400.0, -185.0]]
CLASSIC_BALLS = [((385, 0), (3, 5)), ((380, -20), (4, -6)), ((300, 58), (5, 0.3)),
                 ((300, 100), (6, 4)), ((-100, 30), (9, 0))]


@pytest.fixture(scope="module")
def classic_run():
    rng = np.random.default_rng(7)
    n_random = 16
    pos = np.vstack([[b[0] for b in CLASSIC_BALLS],
                     np.column_stack([rng.uniform(0, 390, n_random), rng.uniform(-160, 160, n_random)])])
    vel = np.vstack([[b[1] for b in CLASSIC_BALLS], rng.uniform(-8, 8, (n_random, 2))])

    def fresh():
        env = VecEnv(len(pos), 1, 1, tick_skip=1)
        place_balls(env, pos, vel, CLASSIC_CORNERS)
        return env

    path, scored = step_ball(fresh(), TICKS)
    return fresh, path, scored


def test_signature_and_docstring(classic):
    assert str(inspect.signature(VecEnv.predict_ball)) == "(self, /, offsets)"
    lines = VecEnv.predict_ball.__doc__.split("\n")
    assert len(lines) == 4
    assert lines[2].startswith('policy "where the ball will be" \u2014 lookahead')
    assert classic.predict_ball(offsets=[0]).shape == (4, 1, 2)
    for call in [lambda: classic.predict_ball(), lambda: classic.predict_ball([1], [2]),
                 lambda: classic.predict_ball(ticks=[1])]:
        with pytest.raises(TypeError):
            call()


def test_classic_equals_stepping(classic_run):
    fresh, path, scored = classic_run
    assert_bits(fresh().predict_ball(range(TICKS + 1)), path)
    # The run went through a goal; the prediction carries the ball on past the
    # goal line and into the net as the real tick does.
    assert (scored[4] == 4).any() and path[4, :, 0].max() > 380


@pytest.mark.parametrize("offsets", [
    [], [0], [0, 0, 0], [0, 5], [3, 1], [2, 2, 5], [TICKS, 0, 17, 17, 3, 0, 1, TICKS],
    list(range(TICKS, -1, -1))])
def test_offsets_in_any_order(classic_run, offsets):
    fresh, path, _ = classic_run
    got = fresh().predict_ball(offsets)
    assert got.flags.c_contiguous and got.flags.owndata
    assert_bits(got, path[:, offsets].reshape(path.shape[0], len(offsets), 2))


def test_offset_types(classic_run):
    env = classic_run[0]()
    want = env.predict_ball([5, 0, 9, 5])
    for offsets in [(5, 0, 9, 5), [np.int32(5), np.uint64(0), np.int8(9), 5],
                    np.array([5, 0, 9, 5]), np.array([5, 0, 9, 5], np.uint8),
                    np.array([5, 1, 0, 1, 9, 1, 5])[::2]]:
        assert_bits(env.predict_ball(offsets), want)
    assert_bits(env.predict_ball(range(3)), env.predict_ball([0, 1, 2]))
    assert_bits(env.predict_ball(np.arange(10)[::-3]), env.predict_ball([9, 6, 3, 0]))


@pytest.mark.parametrize("bad, error", [
    ("12", TypeError), ("", TypeError), (3, TypeError), (None, TypeError), ({1, 2}, TypeError),
    ([1.0], TypeError), ([1, "2"], TypeError), (np.array([1.0]), TypeError),
    (np.array(3), TypeError), ([[1]], TypeError), (np.array([[1]]), TypeError),
    ([1, -1], OverflowError), (np.array([-1]), OverflowError), ([2**64], OverflowError)])
def test_bad_offsets(classic, bad, error):
    before = classic.snapshot()
    with pytest.raises(error) as caught:
        classic.predict_ball(bad)
    if error is TypeError:
        assert "offsets" in str(caught.value)
    assert_same_state(classic.snapshot(), before)


def test_borrowed_for_reading_during_conversion(classic):
    class Reads:
        def __index__(self):
            classic.snapshot()
            return 2

    class Writes:
        def __index__(self):
            classic.reset_all()
            return 2

    assert_bits(classic.predict_ball([1, Reads()]), classic.predict_ball([1, 2]))
    with pytest.raises(RuntimeError, match="^Already borrowed$"):
        classic.predict_ball([1, Writes()])


def test_environment_order():
    rng = np.random.default_rng(11)
    n = 40
    pos = np.column_stack([rng.uniform(-380, 380, n), rng.uniform(-160, 160, n)])
    vel = rng.uniform(-12, 12, (n, 2))
    env = VecEnv(n, 2, 1)
    place_balls(env, pos, vel, [[-400, 185], [-400, -185], [400, 185]])
    offsets = [60, 0, 200, 7]
    got = env.predict_ball(offsets)
    for e in range(n):
        one = VecEnv(1, 2, 1)
        place_balls(one, pos[e:e + 1], vel[e:e + 1], [[-400, 185], [-400, -185], [400, 185]])
        assert_bits(got[e:e + 1], one.predict_ball(offsets))


# No goals; every wall takes the ball only, so that the player parked outside
# is never pushed. Planes on all four sides, the bottom one stored with a
# normal of length 2; a rounded corner; a one-sided straight wall; a 270
# degree arc; a fixed post; and two lines the ball passes through: one for
# the players only, one whose group the ball does not collide with.
BOX = {
    "ballPhysics": {"bCoef": 0.9, "damping": 0.998},
    "vertexes": [{"x": -300, "y": -60}, {"x": -220, "y": -140}, {"x": 150, "y": -200},
                 {"x": 150, "y": -60}, {"x": 0, "y": -200}, {"x": 0, "y": 200},
                 {"x": -100, "y": -200}, {"x": -100, "y": 200}, {"x": 60, "y": -60},
                 {"x": 120, "y": -120}],
    "planes": [
        {"normal": [1, 0], "dist": -300, "cMask": ["ball"]},
        {"normal": [-1, 0], "dist": -300, "cMask": ["ball"], "bCoef": 0.5},
        {"normal": [0, -2], "dist": -100, "cMask": ["ball"]},
        {"normal": [0, 1], "dist": -200, "cMask": ["ball"]}],
    "segments": [
        {"v0": 0, "v1": 1, "curve": 90, "cMask": ["ball"]},
        {"v0": 2, "v1": 3, "bias": 20, "cMask": ["ball"], "bCoef": 0.3},
        {"v0": 4, "v1": 5, "cMask": ["red", "blue"]},
        {"v0": 6, "v1": 7, "cMask": ["ball"], "cGroup": ["score"]},
        {"v0": 8, "v1": 9, "curve": -270, "cMask": ["ball"]}],
    "discs": [{"pos": [-150, 40], "radius": 12, "invMass": 0, "bCoef": 0.8}],
}
PASSED_THROUGH = [("segments", 2), ("segments", 3)]


def box_env(stadium, pos, vel):
    env = VecEnv.from_vxs(json.dumps(stadium), len(pos), 1, 0, tick_skip=1)
    place_balls(env, pos, vel, [[0, 1000]])
    return env


def test_crafted_stadium_equals_stepping():
    rng = np.random.default_rng(1)
    n, ticks = 12, 400
    pos = np.column_stack([rng.uniform(-250, 250, n), rng.uniform(-80, 180, n)])
    vel = rng.uniform(-9, 9, (n, 2))
    path, _ = step_ball(box_env(BOX, pos, vel), ticks)
    offsets = list(range(ticks + 1))
    got = box_env(BOX, pos, vel).predict_ball(offsets)
    assert_bits(got, path)
    # Each part of the stadium that takes the ball bends some path; the two
    # lines that do not take it bend none.
    for kind in ["planes", "segments", "discs"]:
        for i in range(len(BOX[kind])):
            without = dict(BOX, **{kind: [x for j, x in enumerate(BOX[kind]) if j != i]})
            changed = box_env(without, pos, vel).predict_ball(offsets)
            assert np.array_equal(changed, got) == ((kind, i) in PASSED_THROUGH), (kind, i)


def test_immovable_ball_passes_through_everything():
    stadium = dict(BOX, ballPhysics={"invMass": 0, "damping": 0.998})
    pos, vel = [[-50.0, 0.0], [0.0, -60.0]], [[-6.5, 1.25], [0.0, -4.0]]
    got = box_env(stadium, pos, vel).predict_ball(range(200))
    for e in range(2):
        (px, py), (vx, vy) = pos[e], vel[e]
        want = []
        for _ in range(200):
            want.append((px, py))
            px, py = px + vx, py + vy
            vx, vy = (vx + 0.0) * 0.998, (vy + 0.0) * 0.998
        assert_bits(got[e], np.array(want))
    assert got[0, :, 0].min() < -300 and got[1, :, 1].min() < -100  # beyond the planes


def test_normal_length_scales_the_bounce_only():
    """A ball meets the plane y = -100 at 10 units per tick: pushed out to -90
    either way, then sent back at 5 or, with a normal of length 2, at 20."""
    got = {}
    for length in (1, 2):
        stadium = {"ballPhysics": {"damping": 1},
                   "planes": [{"normal": [0, -length], "dist": -100}]}
        got[length] = box_env(stadium, [[0.0, -85.0]], [[0.0, -10.0]]).predict_ball([1, 2, 3])[0]
    assert got[1].tolist() == [[0, -90], [0, -85], [0, -80]]
    assert got[2].tolist() == [[0, -90], [0, -70], [0, -50]]


def test_long_prediction_goes_on_across_spans():
    """A long prediction runs in spans of ticks, with a look for Ctrl-C
    between them, carrying each ball on: with 4096 environments the spans
    are 1024 ticks long, and the answers equal those of one uninterrupted
    run for 8 of the same balls."""
    rng = np.random.default_rng(11)
    pos = np.column_stack([rng.uniform(-360, 360, 4096), rng.uniform(-160, 160, 4096)])
    vel = rng.uniform(-30, 30, (4096, 2))
    many, few = VecEnv(4096, 1, 1), VecEnv(8, 1, 1)
    place_balls(many, pos, vel, CLASSIC_CORNERS)
    place_balls(few, pos[:8], vel[:8], CLASSIC_CORNERS)
    offsets = [3000, 0, 1023, 1024, 1025, 2048, 1]
    assert_bits(many.predict_ball(offsets)[:8], few.predict_ball(offsets))


def test_leaves_every_world_unchanged():
    """The ball strikes a movable stadium disc in the prediction; the disc,
    the ball and everything the next steps depend on stay as they were."""
    stadium = json.dumps({"discs": [{"pos": [60, 0], "invMass": 1}]})
    envs = [VecEnv.from_vxs(stadium, 2, 1, 0, tick_skip=4) for _ in range(2)]
    for env in envs:
        place_balls(env, [[0, 0], [0, 5]], [[5, 0], [5, 0]], [[0, 300]])
    env, twin = envs
    before = (env.snapshot(), env.obstacle_discs(), env.kick_state())
    first = env.predict_ball(range(50))
    assert_bits(env.predict_ball(range(50)), first)
    assert_same_state(env.snapshot(), before[0])
    assert np.array_equal(env.obstacle_discs(), before[1])
    assert_same_state(env.kick_state(), before[2])
    for _ in range(15):
        assert np.array_equal(env.physics_step(actions(2, 1)), twin.physics_step(actions(2, 1)))
        assert_same_state(env.snapshot(), twin.snapshot())
    assert np.array_equal(env.obstacle_discs(), twin.obstacle_discs())
    assert not np.array_equal(env.obstacle_discs(), before[1])  # the real tick did push it



@pytest.mark.parametrize("disc, ball, path_x", [
    # A negative radius still touches within its magnitude and flings the ball across.
    ({"pos": [0, 0], "radius": -100, "invMass": 0}, [[50.0, 0.0], [1.0, 0.0]], [-90, 90, -90]),
    # The squared reach overflows: the far disc touches and turns the ball into NaN.
    ({"pos": [-1.797e308, 0], "radius": 1e300, "invMass": 0}, [[50.0, 0.0], [1.0, 0.0]], [np.nan] * 3),
    # NaNs of both signs keep theirs, as does a damping of -0.0.
    ({"pos": [300, 0]}, [[np.nan, -np.nan], [-np.nan, np.nan]], [np.nan] * 3)])
def test_batches_predict_as_lone_environments(disc, ball, path_x):
    stadium = {"discs": [disc], "ballPhysics": {"damping": -0.0 if "radius" not in disc else 0.99}}
    pos, vel = np.array([ball[0], [0.0, 0.0]]), np.array([ball[1], [2.0, 1.0]])
    got = box_env(stadium, pos, vel).predict_ball([1, 2, 3])
    for e in range(2):
        assert_bits(got[e:e + 1], box_env(stadium, pos[e:e + 1], vel[e:e + 1]).predict_ball([1, 2, 3]))
    np.testing.assert_allclose(got[0, :, 0], path_x)
