"""Team views, the default observation and the reward functions."""

import numpy as np
import pytest

import vexlo
import vexlo_core
from vx_helpers import SeparateObservation, assert_same_play, put, shifted_goals_vxs

BALL = (100.0, 50.0)
BALL_V = (3.0, -1.0)
PLAYERS = [(-200.0, 20.0), (150.0, -30.0)]  # red, blue
PLAYERS_V = [(1.0, 0.5), (-2.0, 0.0)]


def observe(team, lookahead=(), n_envs=1):
    env = vexlo.VectorEnv(n_envs, team=team, kickoff=None,
                          observation=vexlo.TeamObservation(lookahead=lookahead))
    env.reset(seed=0)
    put(env.core, BALL, PLAYERS, ball_vel=BALL_V, player_vel=PLAYERS_V)
    return env, env.observation_fn(env.view, vexlo.State.read(env.core))


def numpy_fuses_complex_products() -> bool:
    """Whether NumPy's complex product keeps an underflowing real part's sign,
    as its fused vector loops do: the engine follows those loops everywhere,
    while NumPy's plain loops (on processors without them) lose that sign."""
    z = np.full(64, complex(-5e-324, -1.0)) * np.complex128(0.2)
    return bool(np.signbit(z.real).all())


def engine_frame(env):
    """The engine's frame arguments of ``env``'s own view."""
    return vexlo.TeamObservation()._map(env.view).engine_frame


class TestLayout:
    def test_red_view_by_hand(self):
        _, obs = observe("red")
        s = 1 / 370
        expected = [
            (100 + 370) * s, 50 * s, 3 * 0.2, -1 * 0.2,                 # ball
            (-200 + 370) * s, 20 * s, 1 * 0.2, 0.5 * 0.2,               # self (red)
            (150 + 370) * s, -30 * s, -2 * 0.2, 0.0,                    # opponent
            (100 + 200) * s, (50 - 20) * s,                             # ball - self
            2 - (100 + 370) * s, -50 * s,                               # opponent goal - ball
        ]
        np.testing.assert_allclose(obs[0], expected, rtol=1e-6)
        assert obs.dtype == np.float32 and obs.shape == (1, 16)

    def test_blue_view_mirrors_x_and_lists_blue_first(self):
        _, obs = observe("blue")
        s = 1 / 370
        expected = [
            (-100 + 370) * s, 50 * s, -3 * 0.2, -1 * 0.2,
            (-150 + 370) * s, -30 * s, 2 * 0.2, 0.0,
            (200 + 370) * s, 20 * s, -1 * 0.2, 0.5 * 0.2,
            (-100 + 150) * s, (50 + 30) * s,
            2 - (-100 + 370) * s, -50 * s,
        ]
        np.testing.assert_allclose(obs[0], expected, rtol=1e-6)

    def test_first_entries_match_the_module_obs_dim(self):
        env, obs = observe("red", lookahead=(4, 8, 16))
        assert obs.shape[1] == env.core.obs_dim + 6 == vexlo.obs_size(2, 3)
        assert env.single_observation_space.shape == (obs.shape[1],)

    def test_lookahead_follows_the_ball(self):
        env, obs = observe("red", lookahead=(1, 10))
        ahead = obs[0, 16:].reshape(2, 2)
        ball = obs[0, 0:2]
        step = ahead[0] - ball
        # One tick ahead moves by the current velocity (view units), then it slows down.
        np.testing.assert_allclose(step, np.array(BALL_V) / 370, rtol=1e-5)
        assert 1.0 < np.linalg.norm(ahead[1] - ball) / np.linalg.norm(step) < 10.0
        engine = env.core.predict_ball([1, 10])[0]
        np.testing.assert_allclose(ahead, env.view.pos(engine), rtol=1e-6)

    @pytest.mark.parametrize("n_red,n_blue,team,lookahead,vxs", [
        (1, 1, "red", (8,), None), (3, 2, "blue", (1, 5, 9), None), (2, 3, "red", (), None),
        (2, 2, "blue", (4,), shifted_goals_vxs(40.0, -25.0)), (1, 2, "red", (4,), shifted_goals_vxs(40.0, -25.0))],
        ids=["1v1", "3v2-blue", "2v3-no-lookahead", "off-centre-goals-blue", "off-centre-goals-red"])
    def test_batch_equals_each_environment_by_the_view(self, n_red, n_blue, team, lookahead, vxs):
        env = vexlo.VectorEnv(7, n_red, n_blue, team=team, observation=vexlo.TeamObservation(lookahead), vxs=vxs)
        env.reset(seed=2)
        for _ in range(30):
            env.step(env.action_space.sample())
        state = vexlo.State.read(env.core)
        ahead = env.core.predict_ball(list(lookahead)) if lookahead else np.zeros((7, 0, 2))
        for view in (env.view, env.opponent_view):
            obs = env.observation_fn(view, state)
            for i in range(7):
                ball = view.pos(state.ball_pos[i])
                players = [np.r_[view.pos(state.player_pos[i, s]), view.vel(state.player_vel[i, s])]
                           for s in view.slots]
                me = view.pos(state.player_pos[i, view.slots[0]])
                want = np.concatenate([ball, view.vel(state.ball_vel[i]), *players, ball - me,
                                       view.opp_goal - ball, view.pos(ahead[i]).ravel()])
                np.testing.assert_array_equal(obs[i], want.astype(np.float32))
        # Arrays of other types and layouts read the same.
        rounded = state.player_vel.astype(np.float32)
        odd = vexlo.State(np.hstack([state.ball_pos, np.zeros((7, 1))])[:, :2],
                          np.asfortranarray(state.ball_vel), np.flip(np.flip(state.player_pos, 0).copy(), 0),
                          rounded, state.steps)
        want = env.observation_fn(env.view, state._replace(player_vel=rounded.astype(np.float64)))
        np.testing.assert_array_equal(env.observation_fn(env.view, odd), want)

    @pytest.mark.parametrize("n_players", [1, 2, 3])
    @pytest.mark.parametrize("lookahead", [(), (8,), (4, 16)])
    def test_engine_builder_has_the_numpy_bits(self, n_players, lookahead, monkeypatch):
        fn = vexlo.TeamObservation(lookahead)
        numpy_path = fn._numpy_observation
        monkeypatch.setattr(fn, "_numpy_observation", None)  # the engine must build every row
        n, p = 51, 2 * n_players  # lane groups of 4 and 8 leave rows to the scalar code
        env = vexlo.VectorEnv(n, n_players, n_players, observation=fn)
        env.reset(seed=n_players)
        rng = np.random.default_rng(len(lookahead))
        widest = vexlo_core._force_lane_width(0)

        def check():
            state = vexlo.State.read(env.core)
            for view in (env.view, env.opponent_view):
                with np.errstate(all="ignore"):  # infinities and NaNs are the point here
                    want = numpy_path(view, state)
                for width in [w for w in (1, 4, 8) if w <= widest]:  # every vector path and the scalar rows
                    vexlo_core._force_lane_width(width)
                    try:
                        got = fn(view, state)
                    finally:
                        vexlo_core._force_lane_width(0)
                    assert got.tobytes() == want.tobytes(), f"lane width {width}"

        for _ in range(25):
            env.step(env.action_space.sample())
        check()
        if not numpy_fuses_complex_products():
            return  # NumPy's plain loops differ from its vector loops below; ordinary states agree
        # Signed zeros, infinities, NaNs of both signs, huge values and products
        # that underflow: the terms by zero of the complex products, which NaN
        # they pass on, their fused real part and the conjugation decide the bits.
        special = np.array([0.0, -0.0, np.inf, -np.inf, np.nan, -np.nan, 1e308, -1e308, 3.5, -7.25,
                            5e-324, -2.5e-310])
        pick = lambda *shape: special[rng.integers(0, len(special), size=shape)]
        vexlo.State(pick(n, 2), pick(n, 2), pick(n, p, 2), pick(n, p, 2), np.zeros(n, np.int64)).write(env.core)
        check()
        bits = lambda *shape: rng.integers(0, 2**64, size=shape, dtype=np.uint64).view(np.float64)
        vexlo.State(bits(n, 2), bits(n, 2), bits(n, p, 2), bits(n, p, 2), np.zeros(n, np.int64)).write(env.core)
        check()

    def test_engine_builder_arguments(self):
        env = vexlo.VectorEnv(3)
        state, m = env.match_state, vexlo.TeamObservation()._map(env.view)
        args = (state.ball_pos, state.ball_vel, state.player_pos, state.player_vel, *m.engine_frame)
        out = np.full((3, vexlo.obs_size(2, 2)), np.nan, np.float32)
        assert env.core.team_observation(*args, (3, 9), out=out) is out
        np.testing.assert_array_equal(out, env.core.team_observation(*args, [3, 9]))
        for bad_out in [out[:, 1:], out.astype(np.float64), out[::-1], out.T.copy()]:
            with pytest.raises((TypeError, ValueError), match="out"):
                env.core.team_observation(*args, (3, 9), out=bad_out)
        frame = list(m.engine_frame)
        for slots in [(), (0, 2)]:
            frame[0] = slots
            with pytest.raises(ValueError, match="slot"):
                env.core.team_observation(*args[:4], *frame, ())

    @pytest.mark.parametrize("team, kickoff, lookahead", [("red", None, (8,)), ("blue", "auto", (4, 16))])
    def test_step_and_observation_in_one_engine_call(self, team, kickoff, lookahead):
        # Short episodes: restarts on most steps; a blue agent's kickoff moves them after the step.
        make = lambda fn: vexlo.VectorEnv(40, 2, 2, team=team, kickoff=kickoff, step_limit=96,
                                          observation=fn)
        joined = make(vexlo.TeamObservation(lookahead))
        assert_same_play(joined, make(SeparateObservation(lookahead)), steps=50, seed=3)

        core = joined.core
        before = core.digest()
        frames = [engine_frame(joined)]
        for bad in [np.ones(39, bool), np.ones(40, np.int8)]:
            with pytest.raises((TypeError, ValueError), match="restart"):
                core.step_observe(joined._actions, bad, frames, lookahead)
        with pytest.raises(ValueError, match="actions"):
            core.step_observe(joined._actions[:, :3], None, frames, lookahead)
        for bad_frames in [[engine_frame(joined)[:5]], [3], "frame"]:
            with pytest.raises(TypeError, match="frame"):
                core.step_observe(joined._actions, None, bad_frames, lookahead)
        np.testing.assert_array_equal(core.digest(), before)

    def test_bad_lookahead_rejected(self):
        for bad in [(0,), (8, 4)]:
            with pytest.raises(ValueError):
                vexlo.TeamObservation(lookahead=bad)


class TestViews:
    def test_views_round_trip_and_goal_placement(self):
        env = vexlo.VectorEnv(1, n_red=2, n_blue=3, team="blue")
        v = env.view
        assert v.slots.tolist() == [2, 3, 4, 0, 1] and v.n_own == 3 and v.sign == -1.0
        np.testing.assert_allclose(v.own_goal, [0, 0], atol=1e-12)
        np.testing.assert_allclose(v.opp_goal, [2, 0], atol=1e-12)
        pts = np.array([[12.5, -40.0], [-300.0, 99.0]])
        np.testing.assert_allclose(v.to_engine(v.pos(pts)), pts)

    def test_off_centre_goals_are_placed_in_each_view(self):
        # File y +40 (red) and -25 (blue) are engine y -40 and +25.
        env = vexlo.VectorEnv(1, vxs=shifted_goals_vxs(40.0, -25.0))
        for view in (env.view, env.opponent_view):
            np.testing.assert_allclose(view.own_goal, [0, 0], atol=1e-12)
            own, opp = view.to_engine(view.own_goal), view.to_engine(view.opp_goal)
            np.testing.assert_allclose([own, opp], [[-370, -40], [370, 25]][::int(view.sign)])
        np.testing.assert_allclose(env.view.opp_goal, [2, 65 / 370])
        np.testing.assert_allclose(env.opponent_view.opp_goal, [2, -65 / 370])
        # The blue view by hand: x mirrored about its goal, y shifted, not mirrored.
        put(env.core, BALL, PLAYERS, ball_vel=BALL_V, player_vel=PLAYERS_V)
        obs = env.observation_fn(env.opponent_view, vexlo.State.read(env.core))[0]
        s = 1 / 370
        np.testing.assert_allclose(obs[[0, 1, 4, 5, 12, 13, 14, 15]], [
            (370 - 100) * s, (50 - 25) * s, (370 - 150) * s, (-30 - 25) * s,   # ball, self
            (150 - 100) * s, (50 + 30) * s, 2 - (370 - 100) * s, (-40 - 50) * s], rtol=1e-6)

    def test_self_slot_comes_first(self):
        env = vexlo.VectorEnv(1, n_red=3, n_blue=1)
        v = vexlo.View.of(env.core, env.field, "red", self_slot=2)
        assert v.slots.tolist() == [2, 0, 1, 3]
        with pytest.raises(ValueError):
            vexlo.View.of(env.core, env.field, "red", self_slot=3)
        with pytest.raises(ValueError):
            vexlo.View.of(env.core, env.field, "green")

    @pytest.mark.parametrize("vxs", [None, shifted_goals_vxs(-30.0, -30.0)], ids=["classic", "off-centre-goals"])
    def test_mirrored_play_looks_the_same_to_both_sides(self, vxs):
        # Red and blue agents making the same moves in their own views, each
        # against a still opponent, see the same observations; also on a
        # stadium whose goals both sit off the centre line.
        red = vexlo.VectorEnv(3, kickoff=vexlo.OpenKickoff(), vxs=vxs)
        blue = vexlo.VectorEnv(3, team="blue", vxs=vxs)
        obs_r, _ = red.reset(seed=0)
        obs_b, _ = blue.reset(seed=0)
        rng = np.random.default_rng(1)
        for _ in range(40):
            np.testing.assert_allclose(obs_r, obs_b, atol=1e-6)
            act = rng.integers(0, [3, 3, 2], size=(3, 3))
            act[0] = vexlo.ChaseBall()(obs_r[:1])[0]
            obs_r, r_r, *_ = red.step(act)
            obs_b, r_b, *_ = blue.step(act)
            np.testing.assert_array_equal(r_r, r_b)


class TestRewards:
    def test_goal_reward_signs(self):
        env = vexlo.VectorEnv(1)
        st = env.match_state
        scored = np.array([-1, vexlo.FLAG_BLUE, vexlo.FLAG_RED], dtype=np.int8)
        red_view = env.view
        blue_view = env.opponent_view
        assert vexlo.goal_reward(red_view, st, st, scored).tolist() == [0.0, 1.0, -1.0]
        assert vexlo.goal_reward(blue_view, st, st, scored).tolist() == [0.0, -1.0, 1.0]

    def test_shaping_telescopes_over_an_episode(self):
        shaped = vexlo.ShapedReward(goal=0.0, ball_to_goal=1.0, player_to_ball=0.5)
        env = vexlo.VectorEnv(2, reward=shaped, step_limit=10**6)
        obs, _ = env.reset(seed=0)
        first = env.match_state
        total = np.zeros(2)
        chase = vexlo.ChaseBall()
        for _ in range(20):
            obs, r, term, *_ = env.step(chase(obs))
            assert not term.any()
            total += r
        expected = shaped._potential(env.view, env.match_state) - shaped._potential(env.view, first)
        np.testing.assert_allclose(total, expected, atol=1e-9)
        assert (total > 0).all()  # chasing the ball towards the goal is rewarded

    def test_shaping_pays_nothing_on_the_scoring_step(self):
        shaped = vexlo.ShapedReward(goal=1.0)
        env = vexlo.VectorEnv(1, reward=shaped)
        env.reset(seed=0)
        put(env.core, (360.0, 0.0), [(0.0, -100.0), (0.0, 100.0)], ball_vel=(6.0, 0.0))
        env.match_state = vexlo.State.read(env.core)
        _, r, term, *_ = env.step(np.array([[1, 1, 0]]))
        assert term[0] and r[0] == 1.0
