"""VecEnv construction, from_vxs, properties and teams()."""
import os

import numpy as np
import pytest

from conftest import BLUE, KICK_STADIUM, RED, actions, assert_same_state, run_python
from vexlo_core import VecEnv


@pytest.mark.parametrize("args, message", [
    ((0, 0, 0), "n_envs must be >= 1"),
    ((1, 0, 0), "n_red + n_blue must be >= 1"),
    ((1, 20, 13), "n_red + n_blue = 33 exceeds the max of 32 players"),
    ((1, 2**64 - 1, 2), "n_red + n_blue = 18446744073709551617 exceeds the max of 32 players"),
])
def test_dimension_messages(args, message):
    for build in (VecEnv, lambda *a: VecEnv.from_vxs("not json", *a)):
        with pytest.raises(ValueError) as err:
            build(*args)
        assert str(err.value) == message


def test_conversion():
    with pytest.raises(OverflowError):
        VecEnv(-1, 1, 1)  # not the dimension check
    with pytest.raises(OverflowError):
        VecEnv(2, 1, 1, tick_skip=2**64)
    with pytest.raises(TypeError, match="^argument 'n_red': "):
        VecEnv(0, "1", 1.0)
    with pytest.raises(TypeError, match="^argument 'step_limit': "):
        VecEnv(2, 1, 1, step_limit=None)
    with pytest.raises(TypeError, match="missing required argument 'n_blue'"):
        VecEnv(1, 1)
    with pytest.raises(TypeError, match="given by name"):
        VecEnv(1, 1, 1, n_red=1)

    class Two:
        def __index__(self):
            return 2
    env = VecEnv(np.int64(3), Two(), np.uint8(1), step_limit=True)
    assert (env.n_envs, env.n_players, env.obs_dim) == (3, 3, 20)


def test_tick_skip_zero_is_one():
    zero, one = VecEnv(2, 3, 2, tick_skip=0), VecEnv(2, 3, 2, tick_skip=1)
    a = actions(2, 5, dx=1, dy=-1, kick=1)
    for _ in range(3):
        zero.physics_step(a)
        one.physics_step(a)
    assert_same_state(zero.snapshot(), one.snapshot())
    assert zero.snapshot()[4].tolist() == [3, 3]


def test_from_vxs():
    with pytest.raises(TypeError, match="^argument 'vxs': "):
        VecEnv.from_vxs(b"{}", 1, 1, 1)
    with pytest.raises(ValueError, match="^bad .vxs JSON: .* at line 1 column"):
        VecEnv.from_vxs("{", 1, 1, 1)
    with pytest.raises(ValueError, match="^ballPhysics ref \"ball\" is not 'discN'$"):
        VecEnv.from_vxs('{"ballPhysics":"ball"}', 1, 1, 1)
    env = VecEnv.from_vxs('{"playerPhysics":{"acceleration":0.2,"damping":0.5}}', 1, 0, 1)
    assert type(env) is VecEnv and env.player_max_speed == (0.2 * 0.5) / (1 - 0.2)


def test_from_vxs_copies_are_independent():
    env = VecEnv.from_vxs(KICK_STADIUM, 3, 1, 1)
    before = env.snapshot()
    ball_pos, player_pos = before[0].copy(), before[2].copy()
    ball_pos[1], player_pos[1, 0] = (7.0, -3.0), (50.0, 60.0)
    env.set_state(ball_pos, before[1], player_pos, before[3])
    after = env.snapshot()
    assert after[0].tolist() == ball_pos.tolist() and after[2].tolist() == player_pos.tolist()


def test_properties_and_teams(classic):
    assert (classic.n_envs, classic.n_players, classic.obs_dim) == (4, 2, 16)
    assert classic.player_max_speed == 0.10666666666666666
    t = classic.teams()
    assert t.dtype == np.int64 and t.flags.c_contiguous and t.flags.owndata
    assert t.tolist() == [[RED, BLUE]] * 4
    t[:] = 0
    assert classic.teams().tolist() == [[RED, BLUE]] * 4
    assert VecEnv(1, 32, 0).teams().tolist() == [[RED] * 32]
    assert VecEnv(2, 0, 1).teams().tolist() == [[BLUE]] * 2


def test_batch_too_large_for_memory():
    for n in (10**12, 2**64 - 1):
        with pytest.raises(MemoryError):
            VecEnv(n, 1, 1)
    # The batch's table of worlds would fit, but with 4000 segments each the
    # worlds' arrays (about 4 TB) would not: refused before anything is built.
    walls = ",".join('{"v0":0,"v1":1}' for _ in range(4000))
    stadium = '{"vertexes":[{"x":0,"y":0},{"x":1,"y":0}],"segments":[' + walls + "]}"
    with pytest.raises(MemoryError):
        VecEnv.from_vxs(stadium, 10**7, 1, 1)


def test_sizes_are_checked_before_the_text_is_encoded():
    lone_surrogate = '{"name":"\ud800"}'
    with pytest.raises(ValueError, match="^n_envs must be >= 1$"):
        VecEnv.from_vxs(lone_surrogate, 0, 1, 1)
    with pytest.raises(OverflowError):
        VecEnv.from_vxs(lone_surrogate, -1, 1, 1)
    with pytest.raises(ValueError) as err:
        VecEnv.from_vxs('{\n "a": 1,\n "name":"\u00e9\ud800"}', 1, 1, 1)
    assert str(err.value) == ("bad .vxs JSON: text is not valid UTF-8: unpaired surrogate "
                              "U+D800 at line 3 column 12")


def test_long_values_are_cut_in_messages():
    for text, pattern in (('{"name":"' + "\u00e9" * 10_000_000 + '\\x"}',
                           r"^bad .vxs JSON: .*; last read: '\"\u00e9+\.\.\.\u00e9+\\x' "
                           r"at line 1 column 20000011$"),
                          ('{"vertexes":"' + "a" * 10**6 + '"}',
                           r'^bad .vxs JSON: invalid type: string "a+\.\.\.a+", '
                           r'.* column 1000014$'),
                          ('{"ballPhysics":"' + "b" * 10**6 + '"}',
                           r'^ballPhysics ref "b+\.\.\.b+" is not \'discN\'$')):
        with pytest.raises(ValueError, match=pattern) as err:
            VecEnv.from_vxs(text, 1, 1, 1)
        assert len(str(err.value)) < 200


# A fresh interpreter under an address-space limit about 256 MB above its
# current size; it prints how much its peak resident memory grew.
UNDER_RLIMIT_AS = """
    import resource
    from vexlo_core import VecEnv
    status = dict(line.split(":", 1) for line in open("/proc/self/status"))
    size = int(status["VmSize"].split()[0]) * 1024
    resource.setrlimit(resource.RLIMIT_AS, (size + (256 << 20), resource.RLIM_INFINITY))
    before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
    try:
        VecEnv(400_000, 1, 1)
    except MemoryError:
        print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)
"""


def test_address_space_limit_gives_memory_error_before_building():
    grown_kib = int(run_python(UNDER_RLIMIT_AS))
    assert grown_kib < 16 << 10  # nothing of the batch was built


def own_memory_cgroup():
    """This process's memory cgroup, as (directory, limit file, swap limit
    file), if it can hold a child with a memory limit; else a reason why not.
    Looks at the unified hierarchy first, then at the v1 memory controller."""
    reasons = []
    for line in open("/proc/self/cgroup"):
        hierarchy, controllers, path = line.rstrip("\n").split(":", 2)
        if hierarchy == "0" and controllers == "":
            mounts, files = ("/sys/fs/cgroup", "/sys/fs/cgroup/unified"), ("memory.max", "memory.swap.max")
        elif "memory" in controllers.split(","):
            mounts, files = ("/sys/fs/cgroup/memory",), ("memory.limit_in_bytes", "memory.memsw.limit_in_bytes")
        else:
            continue
        for mount in mounts:
            d = mount + path.rstrip("/")
            if hierarchy == "0":
                try:
                    if "memory" not in open(d + "/cgroup.subtree_control").read().split():
                        reasons.append(f"memory controller not enabled for children of {d}")
                        continue
                except OSError:
                    continue
            if not os.path.isdir(d):
                continue
            if not os.access(d, os.W_OK):
                reasons.append(f"{d} is not writable")
                continue
            return (d, *files), None
    return None, "; ".join(reasons) or "no memory cgroup mounted"


def test_cgroup_memory_limit_gives_memory_error():
    found, reason = own_memory_cgroup()
    if found is None:
        pytest.skip(reason)
    parent, limit_file, swap_file = found
    child = f"{parent}/vexlo-test-{os.getpid()}"
    os.mkdir(child)
    try:
        with open(f"{child}/{limit_file}", "w") as f:
            f.write(str(512 << 20))
        if os.path.exists(f"{child}/{swap_file}"):
            with open(f"{child}/{swap_file}", "w") as f:
                f.write(str(512 << 20) if swap_file.startswith("memory.memsw") else "0")
        out = run_python(f"""
            open({child + "/cgroup.procs"!r}, "w").write(str(os.getpid()))
            from vexlo_core import VecEnv
            try:
                VecEnv(400_000, 1, 1)
            except MemoryError:
                print("MemoryError")
        """)
        assert out == "MemoryError\n"
    finally:
        os.rmdir(child)
