"""Stadium geometry, rendering and replays."""

import base64
import io
import json
import re
from pathlib import Path

import numpy as np
import pytest
from PIL import Image

import vexlo
import vexlo_core
from vx_helpers import put

ROOT = Path(__file__).resolve().parents[3]


def colour_at(img, renderer, x, y):
    px = int(round((x - renderer.x0) * renderer.scale))
    py = int(round((renderer.y1 - y) * renderer.scale))
    return img[py, px].astype(int)


class TestField:
    def test_classic_text_matches_the_engine(self):
        # The built-in stadium written out as text builds the same matches.
        a = vexlo_core.VecEnv(2, 1, 1)
        b = vexlo_core.VecEnv.from_vxs(vexlo.CLASSIC_VXS, 2, 1, 1)
        rng = np.random.default_rng(0)
        for _ in range(60):
            act = rng.integers(-1, 2, size=(2, 2, 3)).astype(np.int64)
            np.testing.assert_array_equal(a.physics_step(act), b.physics_step(act))
        for x, y in zip(a.snapshot(), b.snapshot()):
            np.testing.assert_array_equal(x, y)

    def test_classic_geometry(self):
        f = vexlo.Field.from_vxs(vexlo.CLASSIC_VXS)
        np.testing.assert_array_equal(f.goal_p0, [[370, 64], [-370, 64]])
        np.testing.assert_array_equal(f.goal_p1, [[370, -64], [-370, -64]])
        assert f.goal_team.tolist() == [vexlo.FLAG_BLUE, vexlo.FLAG_RED]
        np.testing.assert_array_equal(f.goal_centre(vexlo.FLAG_RED), [-370, 0])
        np.testing.assert_array_equal(f.posts[:, 2], [8, 8, 8, 8])
        assert f.pitch == (370.0, 170.0, 75.0) and f.extent == (-420.0, 420.0, -200.0, 200.0)
        # Straight ball walls (net backs, boundary beside the goals) then the planes.
        assert len(f.walls) == 6 + 6
        assert [3000.0, -200.0, -3000.0, -200.0] in f.walls.tolist()
        assert [-420.0, -3000.0, -420.0, 3000.0] in f.walls.tolist()
        # Visible walls: the six net pieces, four of them rounded corners.
        assert sorted(len(p) for p in f.lines) == [2, 2, 24, 24, 24, 24]

    def test_engine_queries_agree_with_the_text(self):
        core = vexlo_core.VecEnv(1, 1, 1)
        f = vexlo.Field.from_core(core)
        ref = vexlo.Field.from_vxs(vexlo.CLASSIC_VXS)
        np.testing.assert_array_equal(f.goal_p0, ref.goal_p0)
        np.testing.assert_array_equal(f.goal_team, ref.goal_team)
        np.testing.assert_array_equal(np.sort(f.walls, axis=0), np.sort(ref.walls, axis=0))
        np.testing.assert_array_equal(np.sort(core.obstacle_discs(), axis=0), np.sort(ref.posts, axis=0))

    @pytest.mark.parametrize("width,height", [(None, None), (30000, 30000), (1e308, 200), (0, 200),
                                              (-420, -200), ("wide", 200), ([420], {"h": 200}), (True, 200)])
    def test_unusable_declared_size_falls_back_to_the_geometry(self, width, height):
        raw = json.loads(vexlo.CLASSIC_VXS)
        raw.pop("width"), raw.pop("height")
        if width is not None:
            raw.update(width=width, height=height)
        field = vexlo.Field.from_vxs(json.dumps(raw))
        # The walls stop at x = +-420, the planes at y = +-200.
        assert field.extent == (-420.0, 420.0, -200.0, 200.0)
        assert vexlo.Renderer(field).size == (870, 430)
        # A sane size is kept; without walls and goals the posts bound the geometry.
        raw.update(width=500, height=300, planes=[], segments=[], goals=[])
        field = vexlo.Field.from_vxs(json.dumps(raw))
        assert field.extent == (-500.0, 500.0, -300.0, 300.0)
        assert field.geometry_extent() == (-378.0, 378.0, -72.0, 72.0)

    def test_text_refused_as_the_engine_refuses_it(self):
        # NaN is no JSON number: the engine refuses the text, whatever it is for.
        text = vexlo.CLASSIC_VXS.replace('"width":420', '"width":NaN')
        messages = []
        for build in (vexlo.Field.from_vxs, lambda t: vexlo_core.VecEnv.from_vxs(t, 1, 1, 1)):
            with pytest.raises(ValueError, match=r"^bad \.vxs JSON: ") as err:
                build(text)
            messages.append(str(err.value))
        assert messages[0] == messages[1]

    def test_drawing_follows_the_text(self):
        raw = json.loads(vexlo.CLASSIC_VXS)
        raw["traits"] = {"hidden": {"vis": False, "color": "123456"}}
        raw["segments"][1].update(trait="hidden")  # a straight net back, now hidden
        raw["segments"][0].update(trait="hidden", vis=0)  # its own value wins (and 0 is not false)
        raw["discs"][1].update(trait="hidden", color=None)  # null: the trait's colour
        raw["discs"][2].update(color=[1, 2, 3])  # not a string: no colour
        raw["bg"] = {"width": 300, "height": "tall"}  # an unusable pitch is not drawn
        raw["discs"][0]["radius"] = 12.5  # the ball's disc
        raw["playerPhysics"] = {"radius": 20}
        f = vexlo.Field.from_vxs(json.dumps(raw))
        assert sorted(len(p) for p in f.lines) == [2, 24, 24, 24, 24]
        assert f.post_colors == ("123456", None, "FFCCCC", "FFCCCC")
        assert f.pitch is None and (f.ball_radius, f.player_radius) == (12.5, 20.0)
        r = vexlo.Renderer(f)
        assert (r.ball_radius, r.player_radius) == (12.5, 20.0)
        assert vexlo.Renderer(f, ball_radius=3).ball_radius == 3.0

    def test_example_stadium_builds_as_documented(self):
        text = (ROOT / "examples/stadiums/small.vxs").read_text()
        info = vexlo_core.describe_stadium(text)
        assert (info["ball_radius"], info["player_radius"], info["spawn_distance"]) == (8.0, 12.0, 150.0)
        core = vexlo_core.VecEnv.from_vxs(text, 1, 3, 4)
        # Engine y is the file's reversed; the fourth blue player, past the spawn
        # points, stands where the fourth of the fallback column would.
        np.testing.assert_array_equal(core.snapshot()[2][0], [[-150, 0], [-150, 50], [-150, -50],
                                                               [150, 0], [150, 50], [150, -50], [150, -110]])
        np.testing.assert_array_equal(np.sort(core.obstacle_discs(), axis=0)[:, 2], [6, 6, 6, 6])
        env = vexlo.VectorEnv(1, vxs=text)
        obs, _ = env.reset(seed=0)
        for _ in range(60):  # a ball chaser scores through the blue goal line
            obs, reward, terminated, _, _ = env.step(vexlo.ChaseBall()(obs))
            if terminated[0]:
                break
        assert reward[0] == 1.0

    def test_documented_errors_are_the_engines(self):
        doc = (ROOT / "docs/vxs-format.md").read_text()
        rows = re.findall(r"^\| `(\{[^`]*)` \| `+ ?(.+?) ?`+ \|$", doc, re.M)
        assert len(rows) == 15
        for text, message in rows:
            with pytest.raises(ValueError) as err:
                vexlo_core.VecEnv.from_vxs(text, 1, 1, 1)
            assert str(err.value) == message, text

    @pytest.mark.parametrize("curve", [90.0, -90.0, 180.0, 270.0, -300.0])
    def test_arcs_have_the_curve_angle(self, curve):
        pts = vexlo.field.arc_points((0.0, 0.0), (10.0, 0.0), curve, samples=33)
        ends = {tuple(np.round(pts[0], 9)), tuple(np.round(pts[-1], 9))}
        assert ends == {(0.0, 0.0), (10.0, 0.0)}
        half = np.radians(abs(curve)) / 2
        radius = 5.0 / np.sin(half)
        sagitta = radius * (1 - np.cos(half))
        # The middle sample is the arc's furthest point from the chord. The
        # engine frame reverses the file's y, so a positive curve bulges to +y.
        mid = pts[16] - [5.0, 0.0]
        np.testing.assert_allclose(mid, [0.0, np.sign(curve) * sagitta], atol=1e-9)
        spans = np.linalg.norm(np.diff(pts, axis=0), axis=1)
        np.testing.assert_allclose(spans, 2 * radius * np.sin(np.radians(abs(curve)) / 64), rtol=1e-9)

    def test_straight_and_degenerate_curves(self):
        assert len(vexlo.field.arc_points((0, 0), (1, 0), None)) == 2
        assert len(vexlo.field.arc_points((0, 0), (1, 0), 5.0)) == 2  # below the arc range
        assert len(vexlo.field.arc_points((0, 0), (1, 0), float("nan"))) == 2


class TestRendering:
    def test_frame_shows_players_ball_and_goals_where_they_are(self):
        env = vexlo.VectorEnv(2, render_mode="rgb_array")
        env.reset(seed=0)
        put(env.core, (60.0, -40.0), [(-150.0, 80.0), (200.0, 0.0)])
        img = env.render()
        r = env._renderer
        assert img.dtype == np.uint8 and img.shape == (430, 870, 3)
        red, blue = colour_at(img, r, -150, 80), colour_at(img, r, 200, 0)
        assert red[0] > red[2] + 80 and blue[2] > blue[0] + 80
        assert (colour_at(img, r, 60, -40) > 240).all()  # white ball
        left_goal = colour_at(img, r, -370, 30)
        assert left_goal[0] > left_goal[2] + 50  # red defends the left goal line
        # A moved ball is drawn elsewhere.
        put(env.core, (-60.0, 40.0), [(-150.0, 80.0), (200.0, 0.0)])
        img2 = env.render()
        assert not (colour_at(img2, r, 60, -40) > 240).all()
        assert (colour_at(img2, r, -60, 40) > 240).all()

    def test_picture_size_is_capped_keeping_the_aspect(self):
        field = vexlo.Field.from_vxs(vexlo.CLASSIC_VXS)
        r = vexlo.Renderer(field, scale=100.0)  # 87000 x 43000 pixels asked for
        w, h = r.size
        assert max(w, h) <= vexlo.render.MAX_SIDE and w * h <= vexlo.render.MAX_PIXELS
        assert abs(w / h - 870 / 430) < 0.01 and w > 2000
        state = vexlo.State.read(vexlo.VectorEnv(1).core)
        state.ball_pos[0] = (60.0, -40.0)
        img = r.draw(state, [vexlo.FLAG_RED, vexlo.FLAG_BLUE])
        assert img.shape == (h, w, 3) and (colour_at(img, r, 60, -40) > 240).all()
        assert colour_at(img, r, -277.5, 0)[0] > colour_at(img, r, -277.5, 0)[2] + 80  # red player
        for bad in (0.0, -1.0, float("inf")):
            with pytest.raises(ValueError):
                vexlo.Renderer(field, scale=bad)

    def test_render_needs_rgb_array_mode(self, monkeypatch):
        with pytest.warns(UserWarning):
            assert vexlo.VectorEnv(1).render() is None
        with pytest.raises(ValueError):
            vexlo.VectorEnv(1, render_mode="ansi")
        monkeypatch.delenv("DISPLAY", raising=False)
        monkeypatch.delenv("WAYLAND_DISPLAY", raising=False)
        with pytest.raises(RuntimeError, match="needs a window, but there is no display"):
            vexlo.SingleEnv(render_mode="human")

    def test_human_mode_shows_every_step_in_a_window(self, x_display):
        # Read back from the virtual screen.
        from PIL import ImageGrab

        env = vexlo.VectorEnv(1, render_mode="human", opponent=vexlo.ChaseBall())
        env.reset(seed=0)
        for _ in range(3):
            env.step(env.action_space.sample())
        label = env._window._label
        x, y = label.winfo_rootx(), label.winfo_rooty()
        shot = np.asarray(ImageGrab.grab(xdisplay=x_display).convert("RGB"))
        frame = env.render_env(0)
        np.testing.assert_array_equal(shot[y:y + frame.shape[0], x:x + frame.shape[1]], frame)
        assert env.render() is None
        # Closed by its user, the window drops frames and the run goes on.
        window = env._window
        window._root.tk.call(window._root.protocol("WM_DELETE_WINDOW"))
        assert not window.is_open
        env.step(env.action_space.sample())
        env.close()
        assert env._window is None

    def test_parallel_env_renders(self, x_display):
        from PIL import ImageGrab

        env = vexlo.ParallelEnv(1, 1, render_mode="rgb_array")
        env.reset(seed=0)
        assert env.render().shape == (430, 870, 3)
        # In a window, each step's frame is the one rgb_array would give.
        shown = vexlo.ParallelEnv(1, 1, render_mode="human")
        shown.reset(seed=0)
        for _ in range(2):
            actions = {a: np.array([2, 0, 1]) for a in shown.agents}
            env.step(actions)
            shown.step(actions)
        label = shown._window._label
        x, y = label.winfo_rootx(), label.winfo_rooty()
        frame = env.render()
        shot = np.asarray(ImageGrab.grab(xdisplay=x_display).convert("RGB"))
        np.testing.assert_array_equal(shot[y:y + frame.shape[0], x:x + frame.shape[1]], frame)
        assert shown.render() is None
        shown.close()
        assert shown._window is None


class TestReplays:
    @pytest.fixture(scope="class")
    def frames(self):
        env = vexlo.VectorEnv(1, render_mode="rgb_array", step_limit=12 * 8)
        return vexlo.record_episode(env, vexlo.ChaseBall(), seed=0)

    def test_episode_frames(self, frames):
        assert len(frames) == 13  # the start and one per step until truncation
        assert not np.array_equal(frames[0], frames[-1])

    def test_gif(self, frames, tmp_path):
        path = tmp_path / "episode.gif"
        vexlo.save_gif(frames, path, fps=20)
        with Image.open(path) as gif:
            assert gif.n_frames == len(frames) and gif.size == (870, 430)
            assert gif.info["duration"] == 50

    def test_html(self, frames, tmp_path):
        path = tmp_path / "episode.html"
        vexlo.save_html(frames[:3], path, title="a <b> c")
        text = path.read_text()
        data = re.findall(r'"([A-Za-z0-9+/=]{100,})"', text)
        assert len(data) == 3 and "a &lt;b&gt; c" in text
        first = np.asarray(Image.open(io.BytesIO(base64.b64decode(data[0]))).convert("RGB"))
        assert first.shape == frames[0].shape
        assert np.abs(first.astype(int) - frames[0]).mean() < 8  # palette-reduced copy

    def test_empty_replays_and_bad_rates_rejected(self, frames, tmp_path):
        with pytest.raises(ValueError):
            vexlo.save_gif([], tmp_path / "x.gif")
        with pytest.raises(ValueError):
            vexlo.save_html([], tmp_path / "x.html")
        for fps in (0, -8, float("nan"), float("inf")):
            for save in (vexlo.save_gif, vexlo.save_html):
                with pytest.raises(ValueError, match="fps"):
                    save(frames[:2], tmp_path / "x", fps=fps)

    def test_long_tick_skip_still_gives_a_usable_frame_rate(self, frames, tmp_path):
        # 60 ticks a second shown one frame per step: a step of many ticks must
        # not round the rate down to a value save_gif refuses.
        for env in (vexlo.VectorEnv(1, tick_skip=200), vexlo.ParallelEnv(tick_skip=200)):
            fps = env.metadata["render_fps"]
            assert fps >= 1
            vexlo.save_gif(frames[:2], tmp_path / "slow.gif", fps=fps)
