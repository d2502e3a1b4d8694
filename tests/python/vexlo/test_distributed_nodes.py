"""A RolloutPool over a local multi-node Ray cluster loses a node and carries
on, bit for bit, on a replacement node."""

import numpy as np
import pytest

ray = pytest.importorskip("ray")
from ray.cluster_utils import Cluster  # noqa: E402

import vexlo  # noqa: E402
from vexlo.distributed import MLPPolicy, RolloutPool, Shard, use_loopback  # noqa: E402

N, T, SEED = 24, 16, 3
ENV = dict(kickoff=vexlo.RandomKickoff(probability=0.5), step_limit=160)
# A node that stops answering counts as dead after about a second, not 15.
HEALTH = {"health_check_initial_delay_ms": 0, "health_check_period_ms": 200,
          "health_check_timeout_ms": 200, "health_check_failure_threshold": 5}


@pytest.fixture(scope="module")
def cluster():
    use_loopback()
    c = Cluster(initialize_head=True,
                head_node_args={"num_cpus": 0, "include_dashboard": False, "_system_config": HEALTH})
    for _ in range(2):
        c.add_node(num_cpus=1)
    ray.init(address=c.address, log_to_driver=False)
    yield c
    ray.shutdown()
    c.shutdown()


def test_a_lost_node_is_replaced_and_the_batches_do_not_change(cluster):
    policy = MLPPolicy(vexlo.VectorEnv(1).single_observation_space.shape[0])
    weights = policy.init_weights(0)
    whole = Shard(N, 0, SEED, policy, T, ENV)
    expected = [whole.collect(r, weights, 0) for r in range(8)]
    pool = RolloutPool(N, 2, SEED, policy, T, weights, env_kwargs=ENV, checkpoint_every=2,
                       recovery_timeout=60)
    try:
        for r in range(8):
            if r == 3:
                lost = pool.shard_nodes()[1]
                cluster.remove_node(next(n for n in cluster.list_all_nodes() if n.node_id == lost),
                                    allow_graceful=False)
                cluster.add_node(num_cpus=1)
            batch = pool.collect()
            for name in ("obs", "actions", "rewards", "terminations", "truncations", "digest"):
                assert getattr(batch, name).tobytes() == expected[r][name].tobytes(), (r, name)
        assert pool.recoveries >= 1
        assert lost not in pool.shard_nodes()
    finally:
        pool.close()
