"""One shard: a slice ``[offset, offset + n)`` of the environments, stepped
with a batched policy for whole rollouts. Plain Python, so the same code runs
in a Ray actor and in the driver's own process."""

from __future__ import annotations

import pickle
from typing import Any, Callable, Dict, Optional, Sequence, Tuple

import numpy as np
import vexlo_core

from ..env import VectorEnv
from ..state import State
from .policy import policy_key

#: ``policy(weights, obs, env_index, step, key) -> (actions, extras)``.
BatchPolicy = Callable[..., Tuple[np.ndarray, Dict[str, np.ndarray]]]


class ReplayMismatch(RuntimeError):
    """A replayed rollout ended in other states than the original one."""


class OutOfStep(RuntimeError):
    """A shard was asked for another rollout than its next one: a call sent
    before its actor died ran on the restarted actor."""


class Shard:
    """``n_envs`` environments of a ``vexlo.VectorEnv`` numbered from
    ``env_offset``, reset with ``seed``, and the policy that drives them.

    Actions are drawn from streams keyed by the seed, each environment's
    global index and the global step number, so the shard's rows are those
    of one environment batch over all shards.
    """

    def __init__(self, n_envs: int, env_offset: int, seed: int, policy: BatchPolicy, rollout_len: int,
                 env_kwargs: Optional[Dict[str, Any]] = None, num_threads: Optional[int] = None) -> None:
        if num_threads is not None:
            vexlo_core.set_num_threads(int(num_threads))
        self.env = VectorEnv(n_envs, env_offset=env_offset, **(env_kwargs or {}))
        self.policy = policy
        self.rollout_len = int(rollout_len)
        self.index = np.arange(env_offset, env_offset + n_envs, dtype=np.uint64)
        self.key = policy_key(seed)
        self.obs, _ = self.env.reset(seed=seed)
        self.prev_done = np.zeros(n_envs, dtype=bool)
        self.step = 0
        self.rollouts = 0

    def ping(self) -> int:
        """The number of rollouts collected (also: the actor is up)."""
        return self.rollouts

    def collect(self, rollout: int, weights: Any, version: int, keep_state: bool = False) -> Dict[str, Any]:
        """Rollout number ``rollout``: ``rollout_len`` steps as ``(T, n, ...)`` arrays.

        ``obs[t]`` is what ``actions[t]`` answered; ``resets[t]`` marks the
        steps that only restarted an environment that ended on the previous
        step (their action was ignored); ``last_obs`` follows the last step.
        With ``keep_state`` the shard's whole state after the rollout comes too.
        """
        if rollout != self.rollouts:
            raise OutOfStep(f"shard at rollout {self.rollouts} was asked for rollout {rollout}")
        T, n = self.rollout_len, len(self.index)
        obs = np.empty((T, *self.obs.shape), dtype=self.obs.dtype)
        actions: Optional[np.ndarray] = None
        rewards = np.empty((T, n))
        terminations = np.empty((T, n), dtype=bool)
        truncations = np.empty((T, n), dtype=bool)
        resets = np.empty((T, n), dtype=bool)
        extras: Dict[str, np.ndarray] = {}
        for t in range(T):
            act, extra = self.policy(weights, self.obs, self.index, self.step, self.key)
            if actions is None:
                actions = np.empty((T, *act.shape), dtype=act.dtype)
                extras = {k: np.empty((T, *v.shape), dtype=v.dtype) for k, v in extra.items()}
            obs[t], actions[t], resets[t] = self.obs, act, self.prev_done
            for k, v in extra.items():
                extras[k][t] = v
            self.obs, rewards[t], terminations[t], truncations[t], _ = self.env.step(act)
            np.logical_or(terminations[t], truncations[t], out=self.prev_done)
            self.step += 1
        self.rollouts += 1
        out: Dict[str, Any] = {"obs": obs, "actions": actions, "rewards": rewards, "terminations": terminations,
               "truncations": truncations, "resets": resets, "extras": extras,
               "last_obs": self.obs.copy(), "digest": self.env.core.digest(), "version": version,
               "rollout": rollout}
        if keep_state:
            out["state"] = self.save()
        return out

    def save(self) -> bytes:
        """Everything the shard's next rollouts depend on, as bytes."""
        env = self.env
        return pickle.dumps({
            "core": env.core.save_state(), "episode": env.streams.episode.copy(), "key": env.streams.key,
            "pending": env._pending.copy(), "any_pending": env._any_pending,
            "np_random": env.np_random.bit_generator.state, "obs": self.obs,
            "prev_done": self.prev_done, "step": self.step, "rollouts": self.rollouts,
        })

    def load(self, blob: bytes) -> None:
        s = pickle.loads(blob)
        env = self.env
        env.core.load_state(s["core"])
        env.streams.episode[:] = s["episode"]
        env.streams.key = s["key"]
        env._pending, env._any_pending = s["pending"].copy(), s["any_pending"]
        env.np_random.bit_generator.state = s["np_random"]
        env.match_state = State.read(env.core)
        self.obs, self.prev_done = s["obs"].copy(), s["prev_done"].copy()
        self.step, self.rollouts = s["step"], s["rollouts"]

    def restore(self, blob: Optional[bytes], replay: Sequence[Tuple[int, Any, int, np.ndarray]]) -> int:
        """Load ``blob`` (``None``: keep the fresh state) and collect again the
        rollouts of ``replay``, ``(rollout, weights, version, digest)``,
        checking that each ends with the digest it had."""
        if blob is not None:
            self.load(blob)
        for rollout, weights, version, digest in replay:
            got = self.collect(rollout, weights, version)["digest"]
            if not np.array_equal(got, digest):
                bad = int(np.flatnonzero(got != digest)[0])
                raise ReplayMismatch(f"replayed rollout {rollout} ended with another state in environment "
                                     f"{int(self.index[bad])}")
        return self.rollouts
