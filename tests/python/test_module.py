"""Module registration, the class's shape and the collision probes."""
import inspect
import weakref

import pytest

import vexlo_core as vc
from conftest import run_python


def test_registration():
    assert [k for k in vars(vc) if not k.startswith("__")] == [
        "VecEnv", "disc_disc", "disc_vertex", "segment_no_curve", "segment_curve", "disc_plane",
        "set_num_threads", "get_num_threads", "_force_lane_width", "FLAG_RED", "FLAG_BLUE",
        "describe_stadium", "CLASSIC_VXS", "COLLISION_FLAGS", "PLANE_HALF_LENGTH"]
    assert (vc.FLAG_RED, vc.FLAG_BLUE) == (2, 4)
    # The benchmarks' width switch refuses what no processor runs, and 0 is the default.
    widest = vc._force_lane_width(0)
    assert widest in (1, 4, 8) and vc._force_lane_width(1) == 1 and vc._force_lane_width(0) == widest
    with pytest.raises(ValueError, match="width 3"):
        vc._force_lane_width(3)
    sig = {obj: str(inspect.signature(obj)) for obj in
           (vc.VecEnv, vc.VecEnv.from_vxs, vc.VecEnv.set_state, vc.VecEnv.load_state,
            vc.segment_curve, vc.describe_stadium)}
    assert list(sig.values()) == [
        "(n_envs, n_red, n_blue, step_limit=2400, tick_skip=8)",
        "(vxs, n_envs, n_red, n_blue, step_limit=2400, tick_skip=8)",
        "(self, /, ball_pos, ball_vel, player_pos, player_vel, steps=None)",
        "(self, /, blob, mask=None)",
        "(pd, c, cr, t0, t1, curve)",
        "(vxs)"]
    assert vc.VecEnv.__doc__ is None and vc.disc_disc.__doc__ is None


def test_class_is_closed(classic):
    with pytest.raises(TypeError):
        type("Sub", (vc.VecEnv,), {})
    with pytest.raises(AttributeError):
        classic.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(classic)
    with pytest.raises(AttributeError):
        classic.n_envs = 9
    assert classic.n_envs == 4


def test_reimport_and_second_interpreter():
    out = run_python("""
        import os, sys, tempfile, vexlo_core
        first = vexlo_core
        del sys.modules["vexlo_core"]
        import vexlo_core
        print(vexlo_core is first)
        try:
            import _xxsubinterpreters as interpreters
        except ImportError:
            print("skip"); raise SystemExit
        path = os.path.join(tempfile.mkdtemp(), "r")
        interpreters.run_string(interpreters.create(),
            "try:\\n import vexlo_core\\n r = 'imported'\\n"
            "except ImportError:\\n r = 'ImportError'\\n"
            f"open({path!r}, 'w').write(r)\\n")
        print(open(path).read())
    """).split()
    assert out[0] == "True" and out[1] in ("skip", "ImportError")


def test_contacts():
    assert vc.disc_disc((0, 0), (10, 0), (1, 0), (0, 0), 6, 6, 1, 1, 0.5, 0.5) == \
        ((-1.0, 0.0), (11.0, 0.0), (0.375, 0.0), (0.625, 0.0))
    # Exactly touching: no push, but the approaching velocities reflect.
    pa, pb, va, _ = vc.disc_disc((0, 0), (12, 0), (1, 0), (0, 0), 6, 6, 1, 1, 0.5, 0.5)
    assert (pa, pb, va) == ((0.0, 0.0), (12.0, 0.0), (0.375, 0.0))
    assert vc.disc_plane(pd=(0, 5), normal=(0, 2), v=(0, -1), dist=0, radius=10, bd=0.5, bp=0.5) \
        == ((0.0, 10.0), (0.0, 1.5))
    assert vc.disc_plane((0, 10), (0, 1), (0, -1), 0, 10, 0.5, 0.5) == ((0.0, 10.0), (0.0, -1.0))
    assert vc.disc_vertex((10, 0), (0, 0), (-1, 0), 10, 0.5, 0.5) == ((10.0, 0.0), (0.25, 0.0))


def test_segments():
    assert vc.segment_no_curve((5, 1), (0, 0), (10, 0)) == (1.0, (-0.0, 1.0))
    assert vc.segment_no_curve((10, 1), (0, 0), (10, 0)) is None
    assert vc.segment_curve((30, 40), (0, 0), 10, (1, 0), (0, 1), 1.0) == (40.0, (0.6, 0.8))
    assert vc.segment_curve((30, 40), (0, 0), 10, (1, 0), (0, 1), -1.0) is None
    assert vc.segment_curve((30, -40), (0, 0), 10, (1, 0), (0, 1), -1.0) == (40.0, (0.6, -0.8))


def test_probe_argument_errors():
    with pytest.raises(TypeError, match="^argument 'v0': "):
        vc.segment_no_curve((5, 1), [0, 0], (10, 0))
    with pytest.raises(ValueError, match="'v1'.*length 2.*length 3"):
        vc.segment_no_curve((5, 1), (0, 0), (10, 0, 0))
    with pytest.raises(TypeError, match="^argument 'cr': "):
        vc.segment_curve((30, 40), (0, 0), "10", (1, 0), (0, 1), 1.0)
    with pytest.raises(TypeError, match="^argument 'pd': "):
        vc.disc_plane((0, None), (0, 1), (0, -1), 0, 10, 0.5, 0.5)
    with pytest.raises(TypeError, match="missing required argument 'bv'"):
        vc.disc_vertex((10, 0), (0, 0), (-1, 0), 10, 0.5)
