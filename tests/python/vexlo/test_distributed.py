"""vexlo.distributed on one local Ray instance: the same batches however the
environments are split, exact recovery of killed shards, back-pressure, and
Ray on loopback only."""

import functools
import os
import signal
import subprocess
import time

import numpy as np
import pytest

ray = pytest.importorskip("ray")
import vexlo  # noqa: E402
from vexlo.distributed import (LockstepVectorEnv, MLPPolicy, RolloutPool, ShardLost,  # noqa: E402
                               init_local, policy_key)

N, T, SEED = 30, 24, 7
# Episodes of 20 steps with random starts: autoresets, kickoff streams and
# episode counters all happen inside a rollout.
ENV = dict(reward=vexlo.ShapedReward(), kickoff=vexlo.RandomKickoff(probability=0.5), step_limit=160)
POLICY = MLPPolicy(vexlo.VectorEnv(1).single_observation_space.shape[0])
FIELDS = ("obs", "actions", "rewards", "terminations", "truncations", "resets", "last_obs", "digest")


@pytest.fixture(scope="module", autouse=True)
def local_ray():
    init_local(num_cpus=2, log_to_driver=False)
    yield
    ray.shutdown()


def weights_for(rollout):
    """The learner's schedule: new weights before rollouts 2 and 4."""
    return POLICY.init_weights(version_of(rollout, 1))


def run_pool(n_shards, rollouts=7, disturb=None, **options):
    pool = RolloutPool(N, n_shards, SEED, POLICY, T, weights_for(0), env_kwargs=ENV,
                       cpus_per_shard=2 / n_shards if n_shards <= 2 else 0.5, **options)
    batches = []
    try:
        threads = ray.get([s.threads.remote() for s in pool.shards])
        for r in range(rollouts):
            if r in (2, 4):
                pool.set_weights(weights_for(r))
            if disturb is not None:
                disturb(pool, r)
            batches.append(pool.collect())
    finally:
        recoveries = pool.recoveries
        pool.close()
    return batches, recoveries, threads


def version_of(rollout, in_flight=2):
    """Rollout r is submitted, with the newest weights, when rollout
    r - in_flight + 1 is asked for."""
    return sum(1 for r in (2, 4) if r <= max(rollout - in_flight + 1, 0))


@functools.lru_cache(maxsize=None)
def single_process(in_flight=2):
    """The same schedule on one vexlo.VectorEnv in this process."""
    env = vexlo.VectorEnv(N, **ENV)
    obs, _ = env.reset(seed=SEED)
    key, index = policy_key(SEED), np.arange(N, dtype=np.uint64)
    done = np.zeros(N, bool)
    out = []
    for r in range(7):
        w = POLICY.init_weights(version_of(r, in_flight))
        b = {k: [] for k in ("obs", "actions", "rewards", "terminations", "truncations", "resets", "logp")}
        for t in range(T):
            a, extra = POLICY(w, obs, index, r * T + t, key)
            b["obs"].append(obs), b["actions"].append(a), b["resets"].append(done.copy())
            b["logp"].append(extra["logp"])
            obs, reward, term, trunc, _ = env.step(a)
            b["rewards"].append(reward), b["terminations"].append(term), b["truncations"].append(trunc)
            done = term | trunc
        b = {k: np.array(v) for k, v in b.items()}
        b["last_obs"], b["digest"] = obs.copy(), env.core.digest()
        out.append(b)
    return out


def assert_same_batches(batches, in_flight=2):
    expected = single_process(in_flight)
    assert [b.version for b in batches] == [version_of(r, in_flight) for r in range(len(batches))]
    for b, e in zip(batches, expected):
        for name in FIELDS:
            got, want = getattr(b, name), e[name]
            assert got.dtype == want.dtype and got.shape == want.shape and got.tobytes() == want.tobytes(), name
        assert b.extras["logp"].tobytes() == e["logp"].tobytes()


def test_policy_rows_do_not_depend_on_the_batch_around_them():
    obs = np.random.default_rng(0).normal(size=(70, POLICY.obs_dim)).astype(np.float32)
    index = np.arange(100, 170, dtype=np.uint64)
    w, key = POLICY.init_weights(3), policy_key(1)
    whole = POLICY(w, obs, index, 5, key)
    for lo, hi in ((0, 1), (1, 17), (17, 70)):
        part = POLICY(w, obs[lo:hi], index[lo:hi], 5, key)
        assert part[0].tobytes() == whole[0][lo:hi].tobytes()
        for name in ("logp", "value"):
            assert part[1][name].tobytes() == whole[1][name][lo:hi].tobytes()
    # Other steps and other environments draw other actions.
    assert not np.array_equal(POLICY(w, obs, index, 6, key)[0], whole[0])
    assert not np.array_equal(POLICY(w, obs, index + 1, 5, key)[0], whole[0])


@pytest.mark.parametrize("n_shards", [1, 2, 3])
def test_any_split_collects_the_single_process_batches(n_shards):
    batches, recoveries, threads = run_pool(n_shards)
    assert recoveries == 0
    # Each engine runs on the CPUs its actor was given (a part counts as one).
    assert threads == [max(1, 2 // n_shards)] * n_shards
    assert batches[0].obs.shape == (T, N, POLICY.obs_dim)
    assert batches[-1].resets.any() and batches[-1].truncations.any()
    assert_same_batches(batches)


def kill_at(rollout, how):
    def disturb(pool, r):
        if r != rollout:
            return
        if how == "ray.kill":
            ray.kill(pool.shards[1], no_restart=False)
            return
        os.kill(pool.shard_pids()[0], signal.SIGKILL)
        # Let Ray restart the actor before the pool notices: the next rollout
        # then reaches a fresh actor instead of failing.
        for _ in range(100):
            try:
                return ray.get(pool.shards[0].ping.remote(), timeout=30)
            except (ray.exceptions.RayActorError, ray.exceptions.ActorUnavailableError):
                time.sleep(0.1)
        raise AssertionError("the killed actor did not restart")
    return disturb


@pytest.mark.parametrize("how,in_flight", [("ray.kill", 2), ("SIGKILL", 3)])
def test_a_killed_shard_is_restored_and_the_batches_do_not_change(how, in_flight):
    # The state is kept after rollout 2; the kill comes after new weights,
    # so the replay needs the older ones. Rollouts sent to the dead actor
    # may reach the restarted one, which must refuse them.
    batches, recoveries, _ = run_pool(2, disturb=kill_at(4, how), checkpoint_every=3, max_in_flight=in_flight)
    assert recoveries >= 1
    assert_same_batches(batches, in_flight)


def test_a_shard_that_cannot_come_back_raises():
    pool = RolloutPool(N, 2, SEED, POLICY, T, weights_for(0), env_kwargs=ENV, max_restarts=1)
    try:
        pool.collect()
        ray.kill(pool.shards[0], no_restart=True)
        with pytest.raises(ShardLost, match="shard 0 .*died"):
            for _ in range(3):
                pool.collect()
    finally:
        pool.close()


def test_a_replay_that_ends_elsewhere_raises():
    pool = RolloutPool(N, 2, SEED, POLICY, T, weights_for(0), env_kwargs=ENV, checkpoint_every=10)
    try:
        for _ in range(2):
            pool.collect()
        pool._logs[1].digests[1] = pool._logs[1].digests[1] ^ np.uint64(1)
        ray.kill(pool.shards[1], no_restart=False)
        with pytest.raises(ShardLost, match="shard 1 could not be restored: replayed rollout 1"):
            for _ in range(3):
                pool.collect()
    finally:
        pool.close()


def test_a_slow_consumer_holds_the_shards_back():
    pool = RolloutPool(N, 2, SEED, POLICY, T, weights_for(0), env_kwargs=ENV, max_in_flight=3)
    try:
        for taken in range(1, 5):
            pool.collect()
            # Actor calls run in order, so the counts come after every queued
            # rollout: the batch taken and two more, none further ahead.
            assert pool.shard_rollouts() == [taken + 2] * 2
    finally:
        pool.close()


def test_lockstep_env_steps_as_one_vector_env():
    mode = "SameStep"
    ours = LockstepVectorEnv(N, 3, cpus_per_shard=0.5, autoreset_mode=mode, **ENV)
    ref = vexlo.VectorEnv(N, autoreset_mode=mode, **ENV)
    try:
        assert ours.single_observation_space == ref.single_observation_space
        obs_a, _ = ours.reset(seed=SEED)
        obs_b, _ = ref.reset(seed=SEED)
        rng = np.random.default_rng(0)
        ended = 0
        for t in range(45):
            assert obs_a.tobytes() == obs_b.tobytes()
            if t == 30:
                mask = rng.random(N) < 0.3
                obs_a, _ = ours.reset(options={"reset_mask": mask})
                obs_b, _ = ref.reset(options={"reset_mask": mask})
                continue
            a = ref.action_space.sample()
            got, want = ours.step(a), ref.step(a)
            for x, y in zip(got[:4], want[:4]):
                assert x.tobytes() == y.tobytes()
            if "_final_obs" in want[4]:
                ended += 1
                np.testing.assert_array_equal(got[4]["_final_obs"], want[4]["_final_obs"])
                for i in np.flatnonzero(want[4]["_final_obs"]):
                    assert got[4]["final_obs"][i].tobytes() == want[4]["final_obs"][i].tobytes()
            else:
                assert "_final_obs" not in got[4]
            obs_a, obs_b = got[0], want[0]
        assert ended and ours.digest().tobytes() == ref.core.digest().tobytes()
    finally:
        ours.close()


def descendants(pid):
    """Every live process started, directly or not, by process ``pid``."""
    parent = {}
    for entry in os.listdir("/proc"):
        try:
            with open(f"/proc/{entry}/stat") as fh:
                # The command name may hold spaces: the fields after its ')' are fixed.
                parent[int(entry)] = int(fh.read().rsplit(")", 1)[1].split()[1])
        except (ValueError, OSError):
            continue
    found, frontier = set(), {pid}
    while frontier:
        frontier = {p for p, pp in parent.items() if pp in frontier} - found
        found |= frontier
    return found


def test_every_ray_process_listens_on_loopback_only():
    pool = RolloutPool(N, 2, SEED, POLICY, T, weights_for(0), env_kwargs=ENV)
    try:
        pool.collect()
        ours = descendants(os.getpid())
        assert set(pool.shard_pids()) <= ours
        listening = subprocess.run(["ss", "-ltnpH"], capture_output=True, text=True, check=True).stdout
        sockets = [(line.split()[3].rsplit(":", 1)[0], line) for line in listening.splitlines()
                   if any(f"pid={pid}," in line for pid in ours)]
        assert len({line.split("pid=")[1].split(",")[0] for _, line in sockets}) >= 3
        for address, line in sockets:
            assert address in ("127.0.0.1", "[::1]", "[::ffff:127.0.0.1]"), line
    finally:
        pool.close()
