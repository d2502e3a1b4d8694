"""Module registration, signatures, the class's shape and the collision probes."""
import inspect
import weakref

import pytest

import vexlo_core
from conftest import run_python


def test_registration_order_and_constants():
    public = [k for k in vars(vexlo_core) if not k.startswith("__")]
    assert public == ["VecEnv", "disc_disc", "disc_vertex", "segment_no_curve",
                      "segment_curve", "disc_plane", "FLAG_RED", "FLAG_BLUE"]
    assert (vexlo_core.FLAG_RED, vexlo_core.FLAG_BLUE) == (2, 4)
    assert type(vexlo_core.FLAG_RED) is int
    assert vexlo_core.__doc__ == ""


@pytest.mark.parametrize("obj, text", [
    (vexlo_core.VecEnv, "(n_envs, n_red, n_blue, step_limit=2400, tick_skip=8)"),
    (vexlo_core.VecEnv.from_vxs, "(vxs, n_envs, n_red, n_blue, step_limit=2400, tick_skip=8)"),
    (vexlo_core.VecEnv.physics_step, "(self, /, actions)"),
    (vexlo_core.VecEnv.reset_all, "(self, /)"),
    (vexlo_core.VecEnv.reset_mask, "(self, /, mask)"),
    (vexlo_core.VecEnv.rollout_bench, "(self, /, n_steps)"),
    (vexlo_core.VecEnv.set_state,
     "(self, /, ball_pos, ball_vel, player_pos, player_vel, steps=None)"),
    (vexlo_core.VecEnv.set_kick_rate_limit, "(self, /, min, cost, cap)"),
    (vexlo_core.VecEnv.set_player_cmask, "(self, /, mask)"),
    (vexlo_core.disc_disc, "(pa, pb, va, vb, ra, rb, ima, imb, ba, bb)"),
    (vexlo_core.disc_vertex, "(pd, pv, v, radius, bd, bv)"),
    (vexlo_core.segment_no_curve, "(pd, v0, v1)"),
    (vexlo_core.segment_curve, "(pd, c, cr, t0, t1, curve)"),
    (vexlo_core.disc_plane, "(pd, normal, v, dist, radius, bd, bp)"),
])
def test_text_signatures(obj, text):
    assert str(inspect.signature(obj)) == text


def test_docstrings_do_not_carry_the_signature_line():
    V = vexlo_core.VecEnv
    assert V.__doc__ is None and vexlo_core.disc_disc.__doc__ is None
    assert V.physics_step.__doc__.startswith("Advance all envs by `tick_skip`")
    assert V.player_max_speed.__doc__.startswith("Player max speed")
    assert "\n" not in V.rollout_bench.__doc__ and "n_steps" in V.rollout_bench.__doc__
    assert V.n_envs.__doc__ is None


def test_class_is_closed(classic):
    with pytest.raises(TypeError):
        type("Sub", (vexlo_core.VecEnv,), {})
    with pytest.raises(AttributeError):
        classic.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(classic)
    with pytest.raises(AttributeError):
        classic.n_envs = 9
    assert classic.n_envs == 4


def test_reimport_returns_the_same_module():
    out = run_python("""
        import sys, vexlo_core
        first = vexlo_core
        del sys.modules["vexlo_core"]
        import vexlo_core
        print(vexlo_core is first, vexlo_core.VecEnv is first.VecEnv)
    """)
    assert out.split() == ["True", "True"]


def test_second_interpreter_is_refused():
    out = run_python("""
        try:
            import _xxsubinterpreters as interpreters
        except ImportError:
            print("skip"); raise SystemExit
        import vexlo_core
        interp = interpreters.create()
        code = ("try:\\n import vexlo_core\\n r = 'imported'\\n"
                "except ImportError as e:\\n r = 'ImportError'\\n"
                "open(%r, 'w').write(r)\\n")
        import tempfile, os
        path = os.path.join(tempfile.mkdtemp(), "r")
        interpreters.run_string(interp, code % path)
        print(open(path).read())
    """)
    if out.strip() == "skip":
        pytest.skip("no subinterpreter support")
    assert out.strip() == "ImportError"


class TestProbes:
    def test_disc_disc(self):
        got = vexlo_core.disc_disc((0, 0), (10, 0), (1, 0), (0, 0), 6, 6, 1, 1, 0.5, 0.5)
        assert got == ((-1.0, 0.0), (11.0, 0.0), (0.375, 0.0), (0.625, 0.0))
        # Exactly touching: no push, but approaching velocities still reflect.
        pa, pb, va, vb = vexlo_core.disc_disc((0, 0), (12, 0), (1, 0), (0, 0), 6, 6, 1, 1, 0.5, 0.5)
        assert (pa, pb) == ((0.0, 0.0), (12.0, 0.0)) and va != (1.0, 0.0)
        # Keywords in any order; coincident centres never touch.
        same = dict(pa=(3, 3), pb=(3, 3), va=(1, 2), vb=(3, 4), ra=5, rb=5, ima=1, imb=1, ba=1, bb=1)
        assert vexlo_core.disc_disc(**same) == ((3.0, 3.0), (3.0, 3.0), (1.0, 2.0), (3.0, 4.0))

    def test_disc_plane_scales_bounce_by_stored_normal(self):
        got = vexlo_core.disc_plane((0, 5), (0, 2), (0, -1), 0, 10, 0.5, 0.5)
        assert got == ((0.0, 10.0), (0.0, 1.5))
        # pen == 0 is no contact.
        assert vexlo_core.disc_plane((0, 10), (0, 1), (0, -1), 0, 10, 0.5, 0.5) == ((0.0, 10.0), (0.0, -1.0))

    def test_disc_vertex_touching_counts(self):
        pos, vel = vexlo_core.disc_vertex((10, 0), (0, 0), (-1, 0), 10, 0.5, 0.5)
        assert pos == (10.0, 0.0) and vel == (0.25, 0.0)  # -1 + 1.25

    def test_segments(self):
        assert vexlo_core.segment_no_curve((5, 1), (0, 0), (10, 0)) == (1.0, (-0.0, 1.0))
        assert vexlo_core.segment_no_curve((0, 1), (0, 0), (10, 0)) is None
        assert vexlo_core.segment_no_curve((10, 1), (0, 0), (10, 0)) is None
        assert vexlo_core.segment_curve((30, 40), (0, 0), 10, (1, 0), (0, 1), 1.0) == (40.0, (0.6, 0.8))
        assert vexlo_core.segment_curve((30, 40), (0, 0), 10, (1, 0), (0, 1), -1.0) is None
        assert vexlo_core.segment_curve((30, -40), (0, 0), 10, (1, 0), (0, 1), -1.0) == (40.0, (0.6, -0.8))

    def test_argument_errors_name_the_argument(self):
        with pytest.raises(TypeError, match="'v0'"):
            vexlo_core.segment_no_curve((5, 1), [0, 0], (10, 0))
        with pytest.raises(ValueError, match="'v1'.*length 2.*length 3"):
            vexlo_core.segment_no_curve((5, 1), (0, 0), (10, 0, 0))
        with pytest.raises(TypeError, match="'cr'"):
            vexlo_core.segment_curve((30, 40), (0, 0), "10", (1, 0), (0, 1), 1.0)
        with pytest.raises(TypeError, match="'pd'"):
            vexlo_core.disc_plane((0, None), (0, 1), (0, -1), 0, 10, 0.5, 0.5)
        with pytest.raises(TypeError, match="missing required argument 'bv'"):
            vexlo_core.disc_vertex((10, 0), (0, 0), (-1, 0), 10, 0.5)
        with pytest.raises(TypeError, match="'nope' is an invalid keyword"):
            vexlo_core.segment_no_curve((5, 1), (0, 0), (10, 0), nope=1)
        with pytest.raises(TypeError, match="given by name"):
            vexlo_core.segment_no_curve((5, 1), (0, 0), (10, 0), pd=(1, 1))
