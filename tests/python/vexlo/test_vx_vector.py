"""Episode semantics of vexlo.VectorEnv: autoreset, termination, truncation,
actions, opponents, seeding and kickoffs."""

import re
from pathlib import Path

import gymnasium as gym
import numpy as np
import pytest
from gymnasium.vector import AutoresetMode, SyncVectorEnv

import vexlo
import vexlo_core
from vx_helpers import mixed_policy, put

STILL = np.array([1, 1, 0])


class TestAgainstGymnasiumSyncVectorEnv:
    """The batched env must behave exactly like Gymnasium's own vector env
    wrapped around independent single matches."""

    @pytest.mark.parametrize("mode,reward", [(AutoresetMode.NEXT_STEP, None),
                                             (AutoresetMode.SAME_STEP, None),
                                             (AutoresetMode.NEXT_STEP, vexlo.ShapedReward())])
    def test_identical_transitions(self, mode, reward):
        n, limit = 6, 45 * 8
        ours = vexlo.VectorEnv(n, step_limit=limit, autoreset_mode=mode, reward=reward)
        ref = SyncVectorEnv([lambda: vexlo.SingleEnv(step_limit=limit, reward=reward) for _ in range(n)],
                            autoreset_mode=mode)
        pol_a, pol_b = mixed_policy(seed=3), mixed_policy(seed=3)
        obs_a, _ = ours.reset(seed=1)
        obs_b, _ = ref.reset(seed=1)
        np.testing.assert_array_equal(obs_a, obs_b)
        seen = {"term": 0, "trunc": 0}
        for _ in range(150):
            out_a = ours.step(pol_a(obs_a))
            out_b = ref.step(pol_b(obs_b))
            obs_a, obs_b = out_a[0], out_b[0]
            for x, y in zip(out_a[:4], out_b[:4]):
                np.testing.assert_array_equal(x, y)
            assert_same_info(out_a[4], out_b[4])
            seen["term"] += int(out_a[2].sum())
            seen["trunc"] += int(out_a[3].sum())
        # The run must have exercised both ways of ending an episode.
        assert seen["term"] > 0 and seen["trunc"] > 0


def assert_same_info(a, b):
    """Batched info dicts with the same keys, dtypes and values (``final_obs``
    holds arrays or ``None`` per environment)."""
    assert sorted(a) == sorted(b)
    for key in a:
        if isinstance(a[key], dict):
            assert_same_info(a[key], b[key])
        elif key == "final_obs":
            for x, y in zip(a[key], b[key]):
                np.testing.assert_array_equal(x, y)
        else:
            assert a[key].dtype == b[key].dtype, key
            np.testing.assert_array_equal(a[key], b[key])


class TestEpisodeEnds:
    def test_truncation_counts_physics_ticks(self):
        env = vexlo.VectorEnv(2, step_limit=20, tick_skip=8)  # 20 ticks -> third step
        env.reset(seed=0)
        still = np.tile(STILL, (2, 1))
        flags = [env.step(still)[3].copy() for _ in range(4)]
        assert [f.tolist() for f in flags] == [[False, False], [False, False], [True, True], [False, False]]

    def test_goal_terminates_with_signed_reward(self):
        for team, ball_x, expected in (("red", 360.0, 1.0), ("red", -360.0, -1.0),
                                       ("blue", -360.0, 1.0), ("blue", 360.0, -1.0)):
            env = vexlo.VectorEnv(1, team=team)
            env.reset(seed=0)
            speed = 6.0 if ball_x > 0 else -6.0
            put(env.core, (ball_x, 0.0), [(0.0, -100.0), (0.0, 100.0)], ball_vel=(speed, 0.0))
            env.match_state = vexlo.State.read(env.core)
            _, reward, term, trunc, info = env.step(np.array([STILL]))
            assert term[0] and not trunc[0] and reward[0] == expected, team
            assert info["goal"].tolist() == [expected > 0] and info["conceded"].tolist() == [expected < 0]
            assert info["episode"]["l"].tolist() == [1] and info["_episode"].tolist() == [True]

    def test_next_step_restart_returns_kickoff_and_ignores_action(self):
        env = vexlo.VectorEnv(2)
        start, _ = env.reset(seed=0)
        put(env.core, (360.0, 0.0), [(0.0, -100.0), (0.0, 100.0)], ball_vel=(6.0, 0.0))
        env.match_state = vexlo.State.read(env.core)
        _, _, term, _, _ = env.step(np.tile(STILL, (2, 1)))
        assert term.all()
        obs, reward, term, trunc, _ = env.step(np.tile([2, 2, 1], (2, 1)))
        np.testing.assert_array_equal(obs, start)
        assert not (reward.any() or term.any() or trunc.any())
        assert (env.match_state.steps == 0).all()

    @pytest.mark.parametrize("mode", ["NextStep", "SameStep", "Disabled"])
    def test_seeded_reset_after_truncation_starts_afresh(self, mode):
        kick = vexlo.RandomKickoff(ball_speed=2.0)  # the seed shows in every start
        env, fresh = (vexlo.VectorEnv(2, step_limit=16, autoreset_mode=mode, kickoff=kick) for _ in range(2))
        act = np.array([[2, 0, 1], [0, 2, 0]])
        env.reset(seed=1)
        assert [env.step(act)[3].all() for _ in range(2)] == [False, True]
        np.testing.assert_array_equal(env.reset(seed=7)[0], fresh.reset(seed=7)[0])
        for _ in range(3):  # no restart left over from the truncation
            for x, y in zip(env.step(act)[:4], fresh.step(act)[:4]):
                np.testing.assert_array_equal(x, y)
        # A partial reset settles only its own environments' pending restarts.
        env.reset(seed=1)
        env.step(act), env.step(act)
        env.reset(options={"reset_mask": np.array([True, False])})
        env.step(act)
        expected = {"NextStep": [8, 0], "SameStep": [8, 8], "Disabled": [8, 24]}[mode]
        assert env.match_state.steps.tolist() == expected

    @pytest.mark.parametrize("mode", ["NextStep", "SameStep", "Disabled"])
    def test_goal_on_the_restart_step_after_truncation_does_not_count(self, mode):
        # Environment 0 truncates with the ball on its way into the goal, which
        # it crosses during the next step; environment 1, a step behind, scores then.
        env = vexlo.VectorEnv(2, step_limit=16, autoreset_mode=mode)
        env.reset(seed=0)
        put(env.core, (300.0, 0.0), [(0.0, -100.0), (0.0, 100.0)], ball_vel=(6.0, 0.0), steps=[8, 0])
        env.match_state = vexlo.State.read(env.core)
        still = np.tile(STILL, (2, 1))
        _, _, term, trunc, _ = env.step(still)
        assert trunc.tolist() == [True, False] and not term.any()
        if mode == "Disabled":
            env.reset(options={"reset_mask": trunc.copy()})
        _, reward, term, trunc, _ = env.step(still)
        assert term.tolist() == [False, True] and reward.tolist() == [0.0, 1.0] and not trunc.any()

    def test_disabled_mode_partial_reset(self):
        env = vexlo.VectorEnv(3, autoreset_mode="Disabled")
        first, _ = env.reset(seed=0)
        for _ in range(3):
            obs, *_ = env.step(np.tile([2, 1, 0], (3, 1)))
        mask = np.array([False, True, False])
        obs2, _ = env.reset(options={"reset_mask": mask})
        np.testing.assert_array_equal(obs2[1], first[1])
        np.testing.assert_array_equal(obs2[[0, 2]], obs[[0, 2]])
        assert env.match_state.steps.tolist() == [24, 0, 24]
        with pytest.raises(ValueError):
            env.reset(options={"reset_mask": np.ones(2, bool)})


class TestActions:
    @pytest.mark.parametrize("team,slot,x_sign", [("red", 0, 1.0), ("blue", 1, -1.0)])
    def test_dx_is_towards_the_opponent_goal_dy_is_not_mirrored(self, team, slot, x_sign):
        env = vexlo.VectorEnv(1, team=team)
        env.reset(seed=0)
        start = env.match_state.player_pos[0, slot].copy()
        for _ in range(3):
            env.step(np.array([[2, 2, 0]]))
        moved = env.match_state.player_pos[0, slot] - start
        assert moved[0] * x_sign > 1.0 and moved[1] > 1.0
        other = 1 - slot
        np.testing.assert_array_equal(env.match_state.player_vel[0, other], [0.0, 0.0])

    def test_two_players_each_get_their_own_digits(self):
        env = vexlo.VectorEnv(2, n_red=2, n_blue=1)
        assert env.single_action_space.nvec.tolist() == [3, 3, 2, 3, 3, 2]
        env.reset(seed=0)
        env.step(np.array([[0, 1, 0, 1, 2, 0], [1, 1, 0, 1, 1, 0]]))
        vel = env.match_state.player_vel
        assert vel[0, 0, 0] < 0 and vel[0, 0, 1] == 0
        assert vel[0, 1, 0] == 0 and vel[0, 1, 1] > 0
        assert not vel[1].any()

    def test_kick_digit_kicks_the_ball(self):
        env = vexlo.VectorEnv(1)
        env.reset(seed=0)
        put(env.core, (-250.0, 0.0), [(-278.0, 0.0), (300.0, 0.0)])
        env.match_state = vexlo.State.read(env.core)
        env.step(np.array([[1, 1, 1]]))
        assert env.match_state.ball_vel[0, 0] > 1.0

    @pytest.mark.parametrize("rearm", [True, False])
    @pytest.mark.parametrize("bad,error,shown", [
        ([[0.9, 1, 0]], ValueError, "0.9"), ([[7, 1, 0]], ValueError, "7"), ([[1, -5, 0]], ValueError, "-5"),
        ([[1, 1, 2]], ValueError, "2"), ([[1, np.nan, 0]], ValueError, "nan"), ([["1", "1", "0"]], TypeError, "'1'"),
        (np.array([[2**64 - 1, 1, 0]], np.uint64), ValueError, str(2**64 - 1)), ([1, 1, 0], ValueError, "(1, 3)")])
    def test_actions_outside_the_space_are_refused(self, bad, error, shown, rearm):
        env = vexlo.VectorEnv(1, rearm_kick=rearm)
        env.reset(seed=0)
        with pytest.raises(error, match=r"MultiDiscrete\(\[3, 3, 2\]\)") as info:
            env.step(np.array(bad))
        assert shown in str(info.value)
        assert env.core.snapshot()[4].tolist() == [0]  # nothing was stepped

    @pytest.mark.parametrize("n_red,n_blue", [(1, 1), (2, 3)])
    @pytest.mark.parametrize("rearm", [True, False])
    def test_engine_writes_what_numpy_writes(self, n_red, n_blue, rearm, monkeypatch):
        env = vexlo.VectorEnv(64, n_red, n_blue, rearm_kick=rearm)
        rng = np.random.default_rng(n_blue)
        for writer in (env._writer, env._opponent_writer):
            checked = []
            check = writer.check
            monkeypatch.setattr(writer, "check", lambda a, n: checked.append(a.dtype) or check(a, n))
            nvec = np.tile([3, 3, 2], len(writer._own))
            for _ in range(3):
                a = rng.integers(0, nvec, size=(64, nvec.size))  # int64: the engine's
                old = rng.integers(-9, 9, size=env._actions.shape)
                engine, numpy_path = old.copy(), old.copy()
                writer.write(engine, a)
                writer.write(numpy_path, a.astype(np.int32))
                np.testing.assert_array_equal(engine, numpy_path)
                assert not np.array_equal(engine, old)
            assert checked == [np.int32] * 3
            # A digit out of range, even at the last entry: the NumPy path's
            # message, and nothing written.
            a[-1, -1] = 2
            with pytest.raises(ValueError) as engine_error:
                writer.write(engine, a)
            with pytest.raises(ValueError) as numpy_error:
                writer.write(engine, a.astype(np.int32))
            assert str(engine_error.value) == str(numpy_error.value)
            np.testing.assert_array_equal(engine, numpy_path)

    def test_engine_input_arguments(self):
        env = vexlo.VectorEnv(3, n_red=2)
        core, buf = env.core, env._actions
        digits = np.tile(np.array([1, 2, 0, 0, 1, 2]), (3, 1))
        # Read backwards: (2, 1, 0) for slot 2, (0, 2, 1) for slot 0, dx mirrored.
        assert core.team_inputs(digits[:, ::-1], (2, 0), True, 1, buf) is True
        assert buf[:, [2, 0]].tolist() == [[[-1, 0, 0], [1, 1, 1]]] * 3 and not buf[:, 1].any()
        assert core.team_inputs(digits, (2, 0), True, 1, buf) is False  # kick digit 2
        assert buf[:, [2, 0]].tolist() == [[[-1, 0, 0], [1, 1, 1]]] * 3
        read_only = buf.copy()
        read_only.flags.writeable = False
        for bad in [digits.astype(np.int32), digits.astype(np.float64), digits.ravel(), [[1] * 6] * 3]:
            with pytest.raises(TypeError, match="digits"):
                core.team_inputs(bad, (0, 1), False, 2, buf)
        for bad_out in [buf[:, 1:], buf.astype(np.int32), buf[::-1], buf[..., :2], read_only]:
            with pytest.raises((TypeError, ValueError), match="out"):
                core.team_inputs(digits, (0, 1), False, 2, bad_out)
        with pytest.raises(ValueError, match=r"digits \[3, 6\] must be \(n_envs=3, 3 \* len\(slots\)=3\)"):
            core.team_inputs(digits, (0,), False, 2, buf)

    def test_callables_with_a_wrong_number_of_rows_are_refused(self):
        with pytest.raises(ValueError, match=r"one row per environment, \(3, \.\.\.\)"):
            vexlo.VectorEnv(3, observation=lambda view, state: np.zeros((1, 4), np.float32))
        rows = iter([3, 3, 2])  # right when probed and at reset, short on the step
        env = vexlo.VectorEnv(3, observation=lambda view, state: np.zeros((next(rows), 4), np.float32))
        env.reset(seed=0)
        with pytest.raises(ValueError, match=r"returned shape \(2, 4\), expected \(3, 4\)"):
            env.step(np.tile(STILL, (3, 1)))
        env = vexlo.VectorEnv(3, reward=lambda view, prev, state, scored: np.zeros(1))
        env.reset(seed=0)
        with pytest.raises(ValueError, match=r"reward function returned shape \(1,\), expected \(3,\)"):
            env.step(np.tile(STILL, (3, 1)))

    def test_whole_float_and_narrow_integer_actions_are_accepted(self):
        envs = [vexlo.VectorEnv(2, n_red=2) for _ in range(3)]
        act = np.array([[2, 0, 1, 0, 2, 0], [1, 1, 0, 2, 2, 1]])
        for env, a in zip(envs, (act, act.astype(np.float32), act.astype(np.uint8))):
            env.reset(seed=0)
            env.step(a)
        for other in envs[1:]:
            np.testing.assert_array_equal(other.match_state.player_vel, envs[0].match_state.player_vel)


class TestOpponent:
    def test_opponent_sees_its_own_view_and_drives_its_own_slots(self):
        received = []

        def chase(obs):
            received.append(obs.copy())
            return vexlo.ChaseBall()(obs)

        env = vexlo.VectorEnv(2, opponent=chase)
        mirror = vexlo.VectorEnv(2, team="blue", kickoff=None)  # red's kickoff in both
        env.reset(seed=0)
        mirror_obs, _ = mirror.reset(seed=0)
        for k in range(5):
            env.step(np.tile(STILL, (2, 1)))
            # The opponent was handed exactly what a blue agent sees.
            np.testing.assert_array_equal(received[k], mirror_obs)
            mirror_obs, *_ = mirror.step(vexlo.ChaseBall()(mirror_obs))
            np.testing.assert_array_equal(env.match_state.player_pos, mirror.match_state.player_pos)
        # The blue chaser ran towards the ball at the centre; red stayed put.
        assert env.match_state.player_pos[0, 1, 0] < 277.5 - 5.0
        assert env.match_state.player_pos[0, 0, 0] == -277.5

    def test_opponent_actions_are_checked_too(self):
        env = vexlo.VectorEnv(2, opponent=lambda obs: np.tile([1, 1, 2], (len(obs), 1)))
        env.reset(seed=0)
        with pytest.raises(ValueError, match=r"opponent: action 2 at index \(0, 2\)"):
            env.step(np.tile(STILL, (2, 1)))
        assert env.core.snapshot()[4].tolist() == [0, 0]


class TestSeedingAndKickoff:
    def test_seeded_random_kickoffs_repeat_and_differ(self):
        env = vexlo.VectorEnv(8, kickoff=vexlo.RandomKickoff(ball_speed=2.0))
        a, _ = env.reset(seed=5)
        b, _ = env.reset(seed=5)
        c, _ = env.reset(seed=6)
        np.testing.assert_array_equal(a, b)
        assert not np.array_equal(a, c)
        s = env.match_state
        assert (np.abs(s.ball_pos) <= [370 * 0.8, 170 * 0.8]).all()
        assert (np.abs(s.player_pos) <= [370 * 0.9, 170 * 0.9]).all()
        gap = np.linalg.norm(s.player_pos - s.ball_pos[:, None], axis=-1)
        assert (gap >= 25.0).all() and (s.steps == 0).all()
        assert len({tuple(r) for r in np.round(s.ball_pos, 6)}) == 8  # every env drawn anew

    def test_players_never_start_on_the_ball(self):
        kick = vexlo.RandomKickoff(ball_area=0.3, player_area=0.3)
        env = vexlo.VectorEnv(256, n_red=2, n_blue=2, kickoff=kick)
        env.reset(seed=3)
        s = env.match_state
        gap = np.linalg.norm(s.player_pos - s.ball_pos[:, None], axis=-1)
        assert gap.min() >= 27.0

    def test_restart_places_only_ended_envs(self):
        env = vexlo.VectorEnv(4, kickoff=vexlo.RandomKickoff(), step_limit=16)
        env.reset(seed=0)
        before = env.match_state.copy()
        env.step(np.tile(STILL, (4, 1)))
        env.step(np.tile(STILL, (4, 1)))  # all truncated now
        env.step(np.tile(STILL, (4, 1)))  # all restarted from new random places
        after = env.match_state
        assert not np.allclose(after.ball_pos, before.ball_pos)
        assert (after.steps == 0).all()

    def test_kickoff_leaves_the_other_envs_exactly_as_they_were(self):
        # Placing the restarted environments must not touch the kick state,
        # phase or masks of the others (a held kick, a kickoff in progress).
        env = vexlo.VectorEnv(3, n_red=2, n_blue=1)
        env.reset(seed=0)
        env.step(np.tile([1, 1, 1, 2, 0, 1], (3, 1)))  # kicks held, env still at kickoff
        mask = np.array([False, True, False])
        kept = env.core.save_state(~mask)
        vexlo.env.apply_kickoff(lambda view, state, m, rng: state, env.view, env.core, mask, None)
        assert env.core.save_state(~mask) == kept

    def test_probability_zero_keeps_the_regular_kickoff(self):
        plain, _ = vexlo.VectorEnv(3).reset(seed=1)
        same, _ = vexlo.VectorEnv(3, kickoff=vexlo.RandomKickoff(probability=0.0)).reset(seed=1)
        np.testing.assert_array_equal(plain, same)

    @pytest.mark.parametrize("kickoff,moves", [("auto", True), (None, False)])
    def test_blue_side_reaches_the_ball_only_without_the_barrier(self, kickoff, moves):
        # Red kicks off after every reset and the kickoff barrier keeps blue out
        # of the centre circle until the ball moves; the blue side's default
        # start lifts it so a blue agent facing a still red team can play.
        env = vexlo.VectorEnv(1, team="blue", kickoff=kickoff)
        obs, _ = env.reset(seed=0)
        chase = vexlo.ChaseBall()
        travelled = 0.0
        for _ in range(25):
            obs, *_ = env.step(chase(obs))
            travelled = max(travelled, float(np.abs(env.match_state.ball_pos[0]).max()))
        assert (travelled > 1.0) == moves


class TestPerEnvironmentStreams:
    """Kickoffs and a random opponent draw from streams of each environment's
    own, keyed by the seed, its global index and its episode number."""

    @staticmethod
    def make(n, offset=0, mode="NextStep"):
        return vexlo.VectorEnv(n, step_limit=10 * 8, autoreset_mode=mode, env_offset=offset,
                               kickoff=vexlo.RandomKickoff(ball_speed=3.0), opponent=vexlo.RandomPolicy())

    def run(self, envs, seed, actions):
        """Starts and transitions of ``envs`` side by side, joined along the batch."""
        joined = lambda parts: [np.concatenate(x) for x in zip(*parts)]
        out = [joined([(e.reset(seed=seed)[0],) for e in envs])]
        for act in actions:
            cut = np.cumsum([e.num_envs for e in envs])[:-1]
            out.append(joined([e.step(a)[:4] for e, a in zip(envs, np.split(act, cut))]))
        return out

    @pytest.mark.parametrize("mode", ["NextStep", "SameStep"])
    def test_split_batches_play_the_same_episodes(self, mode):
        actions = np.random.default_rng(2).integers(0, [3, 3, 2], size=(45, 8, 3))
        whole = self.run([self.make(8, mode=mode)], 9, actions)
        split = self.run([self.make(4, 0, mode), self.make(4, 4, mode)], 9, actions)
        for a, b in zip(whole, split):
            for x, y in zip(a, b):
                np.testing.assert_array_equal(x, y)
        ended = sum(int((t[2] | t[3]).sum()) for t in whole[1:])
        assert ended >= 3 * 8  # through several autoresets
        # The second half alone, offset as in the whole batch, plays its episodes.
        alone = self.run([self.make(4, 4, mode)], 9, actions[:, 4:])
        np.testing.assert_array_equal(alone[-1][0], whole[-1][0][4:])

    @pytest.mark.parametrize("random", ["kickoff", "opponent"])
    def test_episodes_of_one_environment_differ(self, random):
        # Only one of the two is random: the other would hide a repeat.
        env = vexlo.VectorEnv(2, step_limit=10 * 8, **{
            "kickoff": {"kickoff": vexlo.RandomKickoff(ball_speed=3.0)},
            "opponent": {"kickoff": None, "opponent": vexlo.RandomPolicy()}}[random])
        seen, steps = [env.reset(seed=4)[0]], [env.match_state.steps]
        for _ in range(43):
            seen.append(env.step(np.tile(STILL, (2, 1)))[0])
            steps.append(env.match_state.steps)
        # Ten steps truncate, the next one restarts: episodes of eleven observations.
        assert (np.stack(steps)[::11] == 0).all()
        runs = np.stack(seen).reshape(4, 11, 2, -1)
        episodes = {runs[e, :, i].tobytes() for e in range(4) for i in range(2)}
        assert len(episodes) == 8

    def test_parallel_env_starts_as_the_same_environment_of_a_batch(self):
        kick = vexlo.RandomKickoff(ball_speed=3.0)
        batch = vexlo.VectorEnv(8, kickoff=kick)
        batch.reset(seed=9)
        one = vexlo.ParallelEnv(kickoff=kick, env_index=5)
        one.reset(seed=9)
        for x, y in zip(one.match_state[:4], batch.match_state.take(5)[:4]):
            np.testing.assert_array_equal(x, y)

    def test_batched_draws_are_those_of_each_environments_own_philox_stream(self):
        from vexlo.streams import KICKOFF, EnvRandom, EnvStreams

        streams = EnvStreams(6, offset=10)
        streams.seed(3)
        streams.begin(np.ones(6, dtype=bool))
        rows, episodes = streams.begin(np.array([0, 1, 0, 1, 1, 0], dtype=bool))
        rng = EnvRandom(streams, rows, episodes, KICKOFF, np.random.default_rng())
        first, second = rng.random(5), rng.random(2, 3)
        assert first.shape == (3, 5) and second.shape == (3, 2, 3)
        for i, (row, episode) in enumerate(zip(rows, episodes)):
            assert (row, episode) == ([1, 3, 4][i], 1)
            for part, got in ((1, first[i]), (2, second[i].ravel())):
                own = np.random.Philox(key=streams.key, counter=[part << 40, KICKOFF, 1, 10 + row])
                np.testing.assert_array_equal(got, np.random.Generator(own).random(got.size))
        assert len({tuple(r) for r in first}) == 3

    def test_seeded_reset_reseeds_the_opponent(self):
        env = vexlo.VectorEnv(3, opponent=vexlo.RandomPolicy(seed=0))
        still = np.tile(STILL, (3, 1))
        runs = []
        for seed in (5, 5, 6):
            env.reset(seed=seed)
            runs.append(np.stack([env.step(still)[0] for _ in range(12)]))
        np.testing.assert_array_equal(runs[0], runs[1])
        assert not np.array_equal(runs[0], runs[2])

        # Bound to an environment's streams it refuses another batch size; on
        # its own, seed() restarts its draws.
        with pytest.raises(ValueError, match="restarted for 3 environments, not 5"):
            env.opponent(np.zeros((5, 18)))
        policy = vexlo.RandomPolicy(2)
        policy.seed(7)
        first = policy(np.zeros((5, 18)))
        policy.seed(7)
        assert first.shape == (5, 6) and (policy(np.zeros((5, 18))) == first).all()
        assert not (policy(np.zeros((5, 18))) == first).all()


@pytest.mark.parametrize("n_red,n_blue,policy,width", [
    (1, 1, vexlo.ChaseBall(1), 14),  # the team size taken for the match's
    (2, 2, vexlo.ChaseBall(2), 18),
    (1, 1, vexlo.ChaseBall(2, n_lookahead=0), 16),
])
def test_chase_ball_refuses_observations_of_another_layout(n_red, n_blue, policy, width):
    env = vexlo.VectorEnv(2, n_red, n_blue, opponent=policy)
    env.reset(seed=0)
    with pytest.raises(ValueError, match=f"reads observations of {width} entries"):
        env.step(env.action_space.sample())


def test_chase_ball_drives_a_whole_team():
    env = vexlo.VectorEnv(1, 2, 2, team="blue", kickoff=None, opponent=vexlo.ChaseBall(4, n_players=2))
    env.reset(seed=0)
    start = env.match_state
    env.step(np.tile(STILL, (1, 2)))
    vel = env.match_state.player_vel[0]
    # Red's viewing player runs at the ball; its teammate stands still.
    towards = start.ball_pos[0] - start.player_pos[0, 0]
    assert towards[0] > 50 and vel[0, 0] > 0 and (np.sign(vel[0, 1]) == np.sign(towards[1])).all()
    assert (vel[1] == 0).all()
    with pytest.raises(ValueError, match="n_players <= n_total"):
        vexlo.ChaseBall(2, n_players=3)

def test_state_take_indexes_like_numpy():
    state = vexlo.State.read(vexlo.VectorEnv(3).core)
    state.ball_pos[:, 0] = [10.0, 20.0, 30.0]
    assert state.take(-1).ball_pos[:, 0].tolist() == [30.0]
    assert state.take(np.int64(1)).ball_pos[:, 0].tolist() == [20.0]
    assert state.take(np.array([True, False, True])).ball_pos[:, 0].tolist() == [10.0, 30.0]
    for bad in (3, -4):
        with pytest.raises(IndexError):
            state.take(bad)


def test_registered_with_gymnasium():
    env = gym.make_vec("vexlo/Vexlo-v0", num_envs=3, vectorization_mode="vector_entry_point")
    obs, _ = env.reset(seed=0)
    assert obs.shape == (3,) + env.single_observation_space.shape
    assert isinstance(env.unwrapped, vexlo.VectorEnv)


def test_version_is_the_package_version():
    root = Path(__file__).resolve().parents[3]
    pyproject = re.search(r'(?m)^version = "([^"]+)"', (root / "pyproject.toml").read_text()).group(1)
    cmake = re.search(r"project\(vexlo_core VERSION ([0-9.]+)", (root / "CMakeLists.txt").read_text()).group(1)
    assert vexlo.__version__ == vexlo_core.__version__ == pyproject == cmake
