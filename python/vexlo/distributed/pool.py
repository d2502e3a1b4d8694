"""``RolloutPool``: shards of the environments in Ray actors, collecting whole
rollouts ahead of a learner, with bounded in-flight work and exact recovery
of a lost shard."""

from __future__ import annotations

import os
import time
from collections import deque
from dataclasses import dataclass, field
from typing import Any, Deque, Dict, Iterator, List, Optional, Tuple

import numpy as np
import ray
import vexlo_core
from ray.exceptions import (ActorUnavailableError, GetTimeoutError, ObjectLostError,
                            OwnerDiedError, RayActorError, RayTaskError)

from .shard import BatchPolicy, OutOfStep, ReplayMismatch, Shard

#: What a dead actor process or a removed node looks like to the driver.
_LOST = (RayActorError, ActorUnavailableError, ObjectLostError, OwnerDiedError)
_TIME_MAJOR = ("obs", "actions", "rewards", "terminations", "truncations", "resets")


class ShardLost(RuntimeError):
    """A shard could not be brought back to where it was."""


@dataclass
class Batch:
    """One rollout of every environment, shards joined in global order.

    ``obs``, ``actions``, ``rewards``, ``terminations``, ``truncations``,
    ``resets`` and each of ``extras`` are ``(T, n_envs, ...)``: ``obs[t]`` is
    what ``actions[t]`` answered, ``resets[t]`` marks steps that only
    restarted an environment ended on the step before (the action was
    ignored; reward 0). ``last_obs`` follows the last step and ``digest`` is
    each environment's state digest after it. ``version`` is the weights
    version the whole batch was collected with.
    """

    obs: np.ndarray
    actions: np.ndarray
    rewards: np.ndarray
    terminations: np.ndarray
    truncations: np.ndarray
    resets: np.ndarray
    extras: Dict[str, np.ndarray]
    last_obs: np.ndarray
    digest: np.ndarray
    version: int
    rollout: int

    @classmethod
    def join(cls, parts: List[Dict[str, Any]]) -> "Batch":
        if len(parts) == 1:
            p = parts[0]
            return cls(**{k: p[k] for k in _TIME_MAJOR}, extras=p["extras"], last_obs=p["last_obs"],
                       digest=p["digest"], version=p["version"], rollout=p["rollout"])
        joined = {k: np.concatenate([p[k] for p in parts], axis=1) for k in _TIME_MAJOR}
        extras = {k: np.concatenate([p["extras"][k] for p in parts], axis=1) for k in parts[0]["extras"]}
        return cls(**joined, extras=extras, last_obs=np.concatenate([p["last_obs"] for p in parts]),
                   digest=np.concatenate([p["digest"] for p in parts]), version=parts[0]["version"],
                   rollout=parts[0]["rollout"])


class _ShardActor(Shard):
    """A shard whose engine runs on exactly the CPUs Ray gave its actor."""

    def __init__(self, n_envs: int, env_offset: int, seed: int, policy: BatchPolicy, rollout_len: int,
                 env_kwargs: Optional[Dict[str, Any]]) -> None:
        cpus = ray.get_runtime_context().get_assigned_resources().get("CPU", 1.0)
        super().__init__(n_envs, env_offset, seed, policy, rollout_len, env_kwargs, num_threads=max(1, int(cpus)))

    def pid(self) -> int:
        return os.getpid()

    def threads(self) -> int:
        return int(vexlo_core.get_num_threads())

    def node_id(self) -> str:
        return ray.get_runtime_context().get_node_id()

    def restore_refs(self, blob: Optional[bytes], replay: List[Tuple[int, Any, int, np.ndarray]]) -> int:
        return self.restore(blob, [(r, ray.get(w), v, d) for r, w, v, d in replay])


@dataclass
class _ShardLog:
    """What the driver keeps to rebuild one shard: its last kept state (taken
    after rollout ``checkpoint``; ``None``: the fresh one) and the digests of
    the rollouts delivered since."""

    checkpoint: int = -1
    blob: Optional[bytes] = None
    digests: Dict[int, np.ndarray] = field(default_factory=dict)
    in_flight: Deque[Tuple[int, Any]] = field(default_factory=deque)


class RolloutPool:
    """An iterator of :class:`Batch` es of ``rollout_len`` steps of ``n_envs``
    environments split over ``n_shards`` Ray actors.

    The batches are the same bits for any ``n_shards`` and equal those of one
    ``vexlo.VectorEnv(n_envs, **env_kwargs)`` reset with ``seed`` and driven
    by ``policy`` (see :class:`Shard`). Each shard runs at most
    ``max_in_flight`` rollouts ahead of the consumer. :meth:`set_weights`
    puts new weights into the object store once; rollouts submitted from then
    on use them. Every ``checkpoint_every`` rollouts the driver keeps each
    shard's state; a shard whose process or node dies is restarted by Ray (up
    to ``max_restarts`` times), restored, replayed to where it was (digests
    checked) and asked again for the lost rollouts, with their original
    weights. A shard that is not back within ``recovery_timeout`` seconds, or
    replays to other states, raises :class:`ShardLost`.
    """

    def __init__(self, n_envs: int, n_shards: int, seed: int, policy: BatchPolicy, rollout_len: int,
                 weights: Any, *, max_in_flight: int = 2, checkpoint_every: int = 4,
                 env_kwargs: Optional[Dict[str, Any]] = None, cpus_per_shard: float = 1,
                 max_restarts: int = 3, recovery_timeout: float = 120.0,
                 actor_options: Optional[Dict[str, Any]] = None) -> None:
        if not 1 <= n_shards <= n_envs:
            raise ValueError(f"n_shards must be in 1..{n_envs}, not {n_shards}")
        if max_in_flight < 1 or checkpoint_every < 1:
            raise ValueError("max_in_flight and checkpoint_every must be at least 1")
        bounds = [n_envs * i // n_shards for i in range(n_shards + 1)]
        self.slices = list(zip(bounds[:-1], bounds[1:]))
        self.n_envs, self.rollout_len = int(n_envs), int(rollout_len)
        self.max_in_flight, self.checkpoint_every = int(max_in_flight), int(checkpoint_every)
        self.max_restarts, self.recovery_timeout = int(max_restarts), float(recovery_timeout)
        # Ray's actor handles are not typed usefully: Any.
        actor: Any = ray.remote(_ShardActor).options(num_cpus=cpus_per_shard, max_restarts=max_restarts,
                                               max_task_retries=0, **(actor_options or {}))
        self.shards: List[Any] = [actor.remote(b - a, a, seed, policy, rollout_len, env_kwargs)
                                  for a, b in self.slices]
        self._logs = [_ShardLog() for _ in self.shards]
        self.version = -1
        self._weights: Dict[int, Any] = {}
        self._rollout_version: Dict[int, int] = {}
        self._submitted = 0
        self._delivered = 0
        #: Shard recoveries so far.
        self.recoveries = 0
        #: Seconds the driver spent waiting for shards, and working on their
        #: results once there (transfer, joining): the cost outside the actors.
        self.wait_seconds = 0.0
        self.driver_seconds = 0.0
        self.set_weights(weights)

    # -- the learner's side ----------------------------------------------
    def set_weights(self, weights: Any) -> int:
        """Use ``weights`` for the rollouts submitted from now on; returns their version."""
        self.version += 1
        self._weights[self.version] = ray.put(weights)
        return self.version

    def __iter__(self) -> Iterator[Batch]:
        return self

    def __next__(self) -> Batch:
        return self.collect()

    def collect(self) -> Batch:
        """The next rollout of every environment."""
        while self._submitted < self._delivered + self.max_in_flight:
            self._rollout_version[self._submitted] = self.version
            for s in range(len(self.shards)):
                self._logs[s].in_flight.append((self._submitted, self._submit(s, self._submitted)))
            self._submitted += 1
        rollout = self._delivered
        start = time.perf_counter()
        ray.wait([log.in_flight[0][1] for log in self._logs], num_returns=len(self._logs))
        ready = time.perf_counter()
        parts = [self._fetch(s, rollout) for s in range(len(self.shards))]
        self._delivered += 1
        for log, part in zip(self._logs, parts):
            log.digests[rollout] = part["digest"]
            if "state" in part:
                log.checkpoint, log.blob = rollout, part.pop("state")
                log.digests = {rollout: part["digest"]}
        self._forget_old_weights()
        batch = Batch.join(parts)
        self.wait_seconds += ready - start
        self.driver_seconds += time.perf_counter() - ready
        return batch

    def in_flight(self) -> int:
        """Rollouts submitted and not yet delivered (the same for every shard)."""
        return self._submitted - self._delivered

    def shard_rollouts(self) -> List[int]:
        """Rollouts each shard has collected so far (after its queued ones)."""
        return ray.get([s.ping.remote() for s in self.shards])

    def shard_pids(self) -> List[int]:
        """The process id of every shard's actor."""
        return ray.get([s.pid.remote() for s in self.shards])

    def shard_nodes(self) -> List[str]:
        """The Ray node id every shard's actor runs on."""
        return ray.get([s.node_id.remote() for s in self.shards])

    def close(self) -> None:
        for s in self.shards:
            ray.kill(s, no_restart=True)
        self.shards = []

    def __enter__(self) -> "RolloutPool":
        return self

    def __exit__(self, *exc: Any) -> None:
        self.close()

    # -- collecting and recovering -----------------------------------------
    def _submit(self, s: int, rollout: int) -> Any:
        version = self._rollout_version[rollout]
        keep = (rollout + 1) % self.checkpoint_every == 0
        return self.shards[s].collect.remote(rollout, self._weights[version], version, keep)

    def _fetch(self, s: int, rollout: int) -> Dict[str, Any]:
        log = self._logs[s]
        assert log.in_flight[0][0] == rollout
        try:
            part = ray.get(log.in_flight[0][1])
        except _LOST as err:
            part = self._recover(s, rollout, err)
        except RayTaskError as err:
            if not isinstance(err.cause, OutOfStep):
                raise
            part = self._recover(s, rollout, err)
        log.in_flight.popleft()
        return part

    def _recover(self, s: int, rollout: int, err: Exception) -> Dict[str, Any]:
        log, shard = self._logs[s], self.shards[s]
        deadline = time.monotonic() + self.recovery_timeout
        for _ in range(self.max_restarts + 1):
            self.recoveries += 1
            try:
                self._await_restart(s, deadline)
                replay = [(k, self._weights[self._rollout_version[k]], self._rollout_version[k], log.digests[k])
                          for k in range(log.checkpoint + 1, rollout)]
                ray.get(shard.restore_refs.remote(log.blob, replay), timeout=self._left(deadline))
                lost = [k for k, _ in log.in_flight]
                log.in_flight.clear()
                log.in_flight.extend((k, self._submit(s, k)) for k in lost)
                return ray.get(log.in_flight[0][1], timeout=self._left(deadline))
            except _LOST as again:
                err = again
            except GetTimeoutError:
                raise ShardLost(f"shard {s} (environments {self.slices[s][0]}..{self.slices[s][1] - 1}) "
                                f"was not back within {self.recovery_timeout:g} s of losing rollout "
                                f"{rollout}: {type(err).__name__}") from err
            except RayTaskError as failed:
                if isinstance(failed.cause, ReplayMismatch):
                    raise ShardLost(f"shard {s} could not be restored: {failed.cause}") from failed
                if not isinstance(failed.cause, OutOfStep):
                    raise
                err = failed
        raise ShardLost(f"shard {s} (environments {self.slices[s][0]}..{self.slices[s][1] - 1}) died "
                        f"{self.max_restarts + 1} times while recovering rollout {rollout}: {err}") from err

    def _await_restart(self, s: int, deadline: float) -> None:
        while True:
            try:
                ray.get(self.shards[s].ping.remote(), timeout=self._left(deadline))
                return
            except ActorUnavailableError:  # restarting: ask again
                time.sleep(0.05)

    @staticmethod
    def _left(deadline: float) -> float:
        left = deadline - time.monotonic()
        if left <= 0:
            raise GetTimeoutError("recovery deadline passed")
        return left

    def _forget_old_weights(self) -> None:
        # Rollouts up to the oldest kept state are never replayed again.
        oldest = min(log.checkpoint for log in self._logs)
        for k in [k for k in self._rollout_version if k <= oldest]:
            del self._rollout_version[k]
        needed = set(self._rollout_version.values()) | {self.version}
        for v in [v for v in self._weights if v not in needed]:
            del self._weights[v]
