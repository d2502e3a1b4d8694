"""Scale-out on Ray Core (``pip install ".[distributed]"``).

* :class:`RolloutPool` — environment shards in Ray actors collecting whole
  rollouts with a batched policy; the same bits however the environments are
  split, and exact recovery of a lost actor or node.
* :class:`LockstepVectorEnv` — a Gymnasium vector environment over shards,
  stepped together.
* :class:`MLPPolicy` — a NumPy MLP policy that samples from per-environment
  random streams.
* :func:`init_local` — a one-machine Ray cluster on loopback only.

See ``docs/distributed.md``.
"""

from __future__ import annotations

try:
    import ray  # noqa: F401
except ImportError as err:  # pragma: no cover - depends on the installation
    raise ImportError('vexlo.distributed needs Ray: pip install ".[distributed]"') from err

from .local import LOOPBACK_ENV, init_local, use_loopback
from .lockstep import LockstepVectorEnv
from .policy import MLPPolicy, policy_key, step_uniforms
from .pool import Batch, RolloutPool, ShardLost
from .shard import OutOfStep, ReplayMismatch, Shard

__all__ = ["LOOPBACK_ENV", "Batch", "LockstepVectorEnv", "MLPPolicy", "OutOfStep", "ReplayMismatch", "RolloutPool",
           "Shard", "ShardLost", "init_local", "use_loopback", "policy_key", "step_uniforms"]
