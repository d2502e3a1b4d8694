"""VecEnv construction, from_vxs, properties and teams()."""
import numpy as np
import pytest

import vexlo_core
from conftest import BLUE, KICK_STADIUM, RED, actions, assert_same_state

VecEnv = vexlo_core.VecEnv


class TestDimensionCheck:
    @pytest.mark.parametrize("args, message", [
        ((0, 0, 0), "n_envs must be >= 1"),
        ((1, 0, 0), "n_red + n_blue must be >= 1"),
        ((1, 20, 13), "n_red + n_blue = 33 exceeds the max of 32 players"),
        # The exact sum, past 64 bits.
        ((1, 2**64 - 1, 2), "n_red + n_blue = 18446744073709551617 exceeds the max of 32 players"),
        ((1, 2**64 - 1, 1), "n_red + n_blue = 18446744073709551616 exceeds the max of 32 players"),
    ])
    def test_messages(self, args, message):
        with pytest.raises(ValueError) as err:
            VecEnv(*args)
        assert str(err.value) == message
        with pytest.raises(ValueError) as err:
            VecEnv.from_vxs("not json", *args)
        assert str(err.value) == message

    @pytest.mark.parametrize("red, blue", [(32, 0), (0, 1), (16, 16)])
    def test_limits_accepted(self, red, blue):
        env = VecEnv(1, red, blue)
        assert env.n_players == red + blue
        assert env.teams().tolist() == [[RED] * red + [BLUE] * blue]


class TestConversion:
    def test_conversion_precedes_dimension_check(self):
        with pytest.raises(OverflowError):
            VecEnv(-1, 1, 1)
        with pytest.raises(OverflowError):
            VecEnv(2**64, 1, 1)
        with pytest.raises(TypeError, match="^argument 'n_red': "):
            VecEnv(0, "1", 1)

    def test_order_and_names(self):
        with pytest.raises(TypeError, match="^argument 'n_envs': "):
            VecEnv(1.0, "x", None)
        with pytest.raises(TypeError, match="^argument 'step_limit': "):
            VecEnv(2, 1, 1, step_limit=None)
        with pytest.raises(TypeError, match="^argument 'tick_skip': "):
            VecEnv(2, 1, 1, tick_skip=2.5)
        with pytest.raises(OverflowError):
            VecEnv(2, 1, 1, tick_skip=-1)

    def test_binding_errors(self):
        with pytest.raises(TypeError, match="at most 5"):
            VecEnv(1, 1, 1, 1, 1, 1)
        with pytest.raises(TypeError, match="missing required argument 'n_blue'"):
            VecEnv(1, 1)
        with pytest.raises(TypeError, match="invalid keyword"):
            VecEnv(1, 1, 1, steps=3)
        with pytest.raises(TypeError, match="given by name"):
            VecEnv(1, 1, 1, n_red=1)

    def test_integer_index_objects_accepted(self):
        class Two:
            def __index__(self):
                return 2
        env = VecEnv(np.int64(3), Two(), np.uint8(1), step_limit=True, tick_skip=np.int32(2))
        assert (env.n_envs, env.n_players, env.obs_dim) == (3, 3, 20)

    def test_tick_skip_zero_is_one(self):
        zero, one = VecEnv(2, 3, 2, tick_skip=0), VecEnv(2, 3, 2, tick_skip=1)
        a = actions(2, 5, dx=1, dy=-1, kick=1)
        for _ in range(3):
            assert zero.physics_step(a).tobytes() == one.physics_step(a).tobytes()
        assert_same_state(zero.snapshot(), one.snapshot())
        assert zero.snapshot()[4].tolist() == [3, 3]


class TestFromVxs:
    def test_vxs_must_be_str(self):
        with pytest.raises(TypeError, match="^argument 'vxs': "):
            VecEnv.from_vxs(b"{}", 1, 1, 1)
        with pytest.raises(TypeError, match="^argument 'n_blue': "):
            VecEnv.from_vxs("{}", 1, 1, "1")

    def test_bad_text(self):
        with pytest.raises(ValueError, match="^bad .vxs JSON: .* at line 1 column"):
            VecEnv.from_vxs("{", 1, 1, 1)
        with pytest.raises(ValueError, match="ballPhysics ref \"ball\" is not 'discN'"):
            VecEnv.from_vxs('{"ballPhysics":"ball"}', 1, 1, 1)

    def test_environments_are_independent_copies(self):
        env = VecEnv.from_vxs(KICK_STADIUM, 3, 1, 1, tick_skip=1)
        assert type(env) is VecEnv and env.n_envs == 3
        before = env.snapshot()
        ball_pos = before[0].copy()
        ball_pos[1] = (7.0, -3.0)
        player_pos = before[2].copy()
        player_pos[1, 0] = (50.0, 60.0)
        env.set_state(ball_pos, before[1], player_pos, before[3])
        after = env.snapshot()
        for e in (0, 2):
            assert after[0][e].tolist() == before[0][e].tolist()
            assert after[2][e].tolist() == before[2][e].tolist()
        assert after[0][1].tolist() == [7.0, -3.0] and after[2][1, 0].tolist() == [50.0, 60.0]

    def test_text_is_what_gets_built(self, classic):
        # Classic's walls stop a ball that runs free in the empty stadium.
        empty = VecEnv.from_vxs("{}", 4, 1, 1)
        a = actions(4, 2, dx=1, kick=1)
        for _ in range(60):
            classic.physics_step(a)
            empty.physics_step(a)
        assert classic.snapshot()[0].tobytes() != empty.snapshot()[0].tobytes()


def test_properties_and_teams(classic):
    assert (classic.n_envs, classic.n_players, classic.obs_dim) == (4, 2, 16)
    assert VecEnv(1, 3, 3).obs_dim == 32 and VecEnv(1, 1, 0).obs_dim == 12
    assert classic.player_max_speed == (0.1 * 0.96) / (1 - 0.1) == 0.10666666666666666
    t = classic.teams()
    assert t.dtype == np.int64 and t.flags.c_contiguous and t.flags.owndata
    assert t.tolist() == [[RED, BLUE]] * 4
    t[:] = 0
    assert classic.teams().tolist() == [[RED, BLUE]] * 4
    assert VecEnv(2, 3, 2).teams().tolist() == [[2, 2, 2, 4, 4]] * 2


def test_player_max_speed_reads_the_stadium():
    env = VecEnv.from_vxs('{"playerPhysics":{"acceleration":0.2,"damping":0.5}}', 1, 1, 0)
    assert env.player_max_speed == (0.2 * 0.5) / (1 - 0.2)


def test_batch_too_large_for_memory():
    with pytest.raises(MemoryError):
        VecEnv(10**12, 1, 1)
    with pytest.raises(MemoryError):
        VecEnv(2**64 - 1, 1, 1)
    assert VecEnv(2, 1, 1).n_envs == 2
