"""goals, wall_segments and obstacle_discs, and the module's stadium description."""
import inspect
import json

import numpy as np
import pytest

from conftest import BLUE, RED, actions
import vexlo_core
from vexlo_core import VecEnv

# Planes, straight and curved segments and discs whose masks do or do not meet
# the ball, written in the file's frame (y down); the rows below are in the
# engine's frame (y up).
CRAFTED = {
    "vertexes": [{"x": -50, "y": 10}, {"x": 60, "y": 30}, {"x": 0, "y": -200}, {"x": 0, "y": 200},
                 {"x": 100, "y": 100}, {"x": 150, "y": 150}],
    "planes": [
        {"normal": [0, -1], "dist": -200},
        {"normal": [0, 1], "dist": -150, "cMask": ["red", "blue"]},
        {"normal": [1, 0], "dist": -420, "cMask": ["ball"], "cGroup": []},
        {"normal": [-1, 0], "dist": -300, "cMask": []},
        {"normal": [0, -2], "dist": -100, "cMask": ["all"]},
    ],
    "segments": [
        {"v0": 0, "v1": 1},
        {"v0": 2, "v1": 3, "cMask": ["red", "blue"], "cGroup": ["redKO", "blueKO"]},
        {"v0": 4, "v1": 5, "curve": 90, "cMask": ["ball"]},
        {"v0": 4, "v1": 5, "curve": 5, "cMask": ["ball"]},
    ],
    "discs": [
        {"pos": [10, 20], "cMask": ["wall"]},
        {"pos": [30, 40], "radius": 5, "cMask": []},
        {"pos": [50, 60], "radius": 6, "cMask": ["blueKO"]},
        {"pos": [100, 50], "invMass": 1},
        {"pos": [70, 80], "cMask": ["kick", "score"]},
    ],
    "goals": [
        {"p0": [1, 2], "p1": [3, -4], "team": "red"},
        {"p0": [-5, 6], "p1": [7, 8], "team": "Red"},
        {"p0": [9, -10], "p1": [-11, 12], "team": "blue"},
    ],
}
# The movable disc of CRAFTED, in the engine's frame.
MOVABLE = (100.0, -50.0)


def crafted(n_envs=1, **changes):
    return VecEnv.from_vxs(json.dumps(dict(CRAFTED, **changes)), n_envs, 1, 1, tick_skip=1)


def assert_array(a, dtype, rows):
    want = np.asarray(rows, dtype)
    assert a.dtype == dtype and a.flags.c_contiguous and a.flags.owndata
    assert a.shape == want.shape and np.array_equal(a, want)


def test_signatures_and_docstrings(classic):
    for name, lines in [("goals", 4), ("wall_segments", 5), ("obstacle_discs", 4)]:
        method = getattr(VecEnv, name)
        assert str(inspect.signature(method)) == "(self, /)"
        assert len(method.__doc__.split("\n")) == lines
        with pytest.raises(TypeError):
            getattr(classic, name)(1)
    assert VecEnv.goals.__doc__.startswith("The stadium's goal lines (same for every env). Returns\n")
    assert "not hardcoded \u2014 so\n" in VecEnv.goals.__doc__
    assert VecEnv.obstacle_discs.__doc__.endswith("so they're excluded.")


def test_classic(classic):
    p0, p1, team = classic.goals()
    assert_array(p0, np.float64, [[370, 64], [-370, 64]])
    assert_array(p1, np.float64, [[370, -64], [-370, -64]])
    assert_array(team, np.int64, [BLUE, RED])
    # Straight ball walls (back of each net, then beside the goals), then the
    # six planes; the goal-net arcs and the kickoff barrier are left out.
    assert_array(classic.wall_segments(), np.float64, [
        [400, -42, 400, 42], [-400, -42, -400, 42],
        [370, 170, 370, 64], [370, -64, 370, -170],
        [-370, -170, -370, -64], [-370, 64, -370, 170],
        [-3000, 200, 3000, 200], [3000, -200, -3000, -200],
        [-420, -3000, -420, 3000], [420, 3000, 420, -3000],
        [-3000, 170, 3000, 170], [3000, -170, -3000, -170]])
    assert_array(classic.obstacle_discs(), np.float64,
                 [[370, 64, 8], [370, -64, 8], [-370, 64, 8], [-370, -64, 8]])


def test_crafted_rows():
    env = crafted()
    p0, p1, team = env.goals()
    assert_array(p0, np.float64, [[1, -2], [-5, -6], [9, 10]])
    assert_array(p1, np.float64, [[3, 4], [7, -8], [-11, -12]])
    assert_array(team, np.int64, [RED, 0, BLUE])
    assert_array(env.wall_segments(), np.float64, [
        [-50, -10, 60, -30],
        # curve 5 is too small for an arc: straight, stored with its ends swapped
        [150, -150, 100, -100],
        [3000, -200, -3000, -200],
        [-420, -3000, -420, 3000],
        # the length of the normal scales the base point and the extent
        [6000, -200, -6000, -200]])
    # Masks meeting ball, red, blue, redKO or blueKO count, whatever invMass.
    assert_array(env.obstacle_discs(), np.float64, [[50, -60, 6], [100, -50, 10]])


def test_empty_results():
    env = VecEnv.from_vxs("{}", 2, 1, 0)
    p0, p1, team = env.goals()
    assert (p0.shape, p1.shape, team.shape) == ((0, 2), (0, 2), (0,))
    assert (p0.dtype, p1.dtype, team.dtype) == (np.float64, np.float64, np.int64)
    for a, shape in [(env.wall_segments(), (0, 4)), (env.obstacle_discs(), (0, 3))]:
        assert a.shape == shape and a.dtype == np.float64
    env = crafted(segments=[CRAFTED["segments"][i] for i in (1, 2)],
                  planes=[CRAFTED["planes"][i] for i in (1, 3)],
                  discs=[CRAFTED["discs"][i] for i in (0, 1, 4)])
    assert env.wall_segments().shape == (0, 4) and env.obstacle_discs().shape == (0, 3)


def test_environment_zero_and_current_positions():
    """The movable disc is pushed aside by a ball placed against it; only a
    push in environment 0 shows."""
    env = crafted(2)
    walls, goals = env.wall_segments(), env.goals()
    rows = env.obstacle_discs()

    def push(in_env):
        ball = np.array([[0.0, 150.0], [0.0, 150.0]])
        ball[in_env] = (MOVABLE[0] - 15, MOVABLE[1])
        env.set_state(ball, np.zeros((2, 2)), np.tile([[-300.0, 150], [-300, -150]], (2, 1, 1)),
                      np.zeros((2, 2, 2)))
        env.physics_step(actions(2, 2))

    push(1)
    assert np.array_equal(env.obstacle_discs(), rows)
    push(0)
    rows[1, 0] = MOVABLE[0] + 2.5
    assert np.array_equal(env.obstacle_discs(), rows)
    assert np.array_equal(env.wall_segments(), walls)
    assert all(np.array_equal(a, b) for a, b in zip(env.goals(), goals))
    # Every call returns new arrays.
    env.wall_segments()[:] = 0
    env.goals()[2][:] = 0
    assert np.array_equal(env.wall_segments(), walls) and env.goals()[2].tolist() == [RED, 0, BLUE]


def test_description_matches_the_engine_queries():
    """describe_stadium, module level, gives the rows a VecEnv of the same text gives."""
    describe_stadium = vexlo_core.describe_stadium
    for text in (json.dumps(CRAFTED), vexlo_core.CLASSIC_VXS, "{}"):
        d = describe_stadium(text)
        env = VecEnv.from_vxs(text, 1, 1, 1)
        assert_array(d["ball_walls"], np.float64, env.wall_segments())
        for got, want in zip((d["goals"]["p0"], d["goals"]["p1"], d["goals"]["team"]), env.goals()):
            assert_array(got, want.dtype, want)
        discs = d["discs"]
        posts = np.hstack([discs["pos"], discs["radius"][:, None]])[discs["obstacle"]]
        assert_array(posts.copy(), np.float64, env.obstacle_discs())
        seg = d["segments"]
        n = len(seg["v0"])
        assert seg["v0"].shape == seg["center"].shape == (n, 2) and seg["visible"].dtype == np.bool_
        assert seg["c_mask"].dtype == np.int64 and d["planes"]["normal"].shape == (len(d["planes"]["dist"]), 2)
        assert len(discs["color"]) == len(discs["radius"])
    # The arcs of CRAFTED: curve 90 is a quarter turn, curve 5 is straight.
    seg = describe_stadium(json.dumps(CRAFTED))["segments"]
    np.testing.assert_allclose(seg["turn"], [0, 0, np.pi / 2, 0])
    np.testing.assert_allclose(np.hypot(*(seg["v0"][2] - seg["center"][2])), seg["radius"][2])
    assert seg["visible"].all() and describe_stadium("{}")["pitch"] is None


def test_flag_names_and_defaults():
    assert dict(vexlo_core.COLLISION_FLAGS) == {"ball": 1, "red": RED, "blue": BLUE, "redKO": 8, "blueKO": 16,
                                                "wall": 32, "all": 63, "kick": 64, "score": 128}
    with pytest.raises(TypeError):
        vexlo_core.COLLISION_FLAGS["ball"] = 2
    d = vexlo_core.describe_stadium(vxs=vexlo_core.CLASSIC_VXS)
    assert (d["spawn_distance"], d["kick_rate_limit"], d["ball_radius"], d["player_radius"]) == (277.5, (2, 0, 1),
                                                                                                 10.0, 15.0)
    assert (d["width"], d["height"], d["pitch"]) == (420.0, 200.0, (370.0, 170.0, 75.0))
    custom = vexlo_core.describe_stadium('{"spawnDistance": 100, "width": "w"}')
    assert custom["spawn_distance"] == 100.0 and custom["width"] is None


@pytest.mark.parametrize("text", ["{", '{"ballPhysics":"disc0"}', '{"name":"\ud800"}', '{"width":NaN}'])
def test_description_refuses_as_from_vxs(text):
    with pytest.raises(ValueError) as want:
        VecEnv.from_vxs(text, 1, 1, 1)
    with pytest.raises(ValueError) as got:
        vexlo_core.describe_stadium(text)
    assert str(got.value) == str(want.value)
    with pytest.raises(TypeError, match="argument 'vxs': expected str"):
        vexlo_core.describe_stadium(b"{}")
