"""``LockstepVectorEnv``: one Gymnasium vector environment over environment
shards in Ray actors, stepped together."""

from __future__ import annotations

from typing import Any, Dict, List, Optional, Tuple

import gymnasium as gym
import numpy as np
import ray
import vexlo_core

from ..env import VectorEnv


class _EnvActor:
    """A ``vexlo.VectorEnv`` of one shard; its engine uses the actor's CPUs."""

    def __init__(self, n_envs: int, env_offset: int, env_kwargs: Dict[str, Any]) -> None:
        cpus = ray.get_runtime_context().get_assigned_resources().get("CPU", 1.0)
        vexlo_core.set_num_threads(max(1, int(cpus)))
        self.env = VectorEnv(n_envs, env_offset=env_offset, **env_kwargs)

    def spaces(self) -> Tuple[gym.Space, gym.Space, Dict[str, Any]]:
        return self.env.single_observation_space, self.env.single_action_space, self.env.metadata

    def reset(self, seed: Optional[int], options: Optional[Dict[str, Any]]) -> Tuple[np.ndarray, Dict[str, Any]]:
        return self.env.reset(seed=seed, options=options)

    def step(self, actions: np.ndarray) -> Tuple[Any, ...]:
        return self.env.step(actions)

    def digest(self) -> np.ndarray:
        return self.env.core.digest()


def _join_infos(infos: List[Dict[str, Any]], sizes: List[int]) -> Dict[str, Any]:
    """Joins the shards' info dicts: per-environment arrays end to end (a
    shard without a key contributes empty entries); other values from the
    first shard that has them."""
    out: Dict[str, Any] = {}
    for key in {k for info in infos for k in info}:
        values = [info.get(key) for info in infos]
        sample = next(v for v in values if v is not None)
        if isinstance(sample, np.ndarray):
            out[key] = np.concatenate([v if v is not None else np.zeros(n, dtype=sample.dtype)
                                       for v, n in zip(values, sizes)])
        else:
            out[key] = sample
    return out


class LockstepVectorEnv(gym.vector.VectorEnv):
    """``num_envs`` environments of ``vexlo.VectorEnv(**env_kwargs)`` split over
    ``n_shards`` Ray actors and stepped together: each ``step`` sends every
    shard its rows of the actions and waits for all of them.

    Autoreset and every result are those of one ``vexlo.VectorEnv`` over all
    environments with the same seed (shard ``k`` numbers its environments
    from its offset), so any Gymnasium trainer can use it unchanged. Each
    step costs a round trip to every actor: for throughput, collect whole
    rollouts with :class:`RolloutPool`.
    """

    def __init__(self, num_envs: int, n_shards: int, *, cpus_per_shard: float = 1,
                 actor_options: Optional[Dict[str, Any]] = None, **env_kwargs: Any) -> None:
        if not 1 <= n_shards <= num_envs:
            raise ValueError(f"n_shards must be in 1..{num_envs}, not {n_shards}")
        bounds = [num_envs * i // n_shards for i in range(n_shards + 1)]
        self.slices = list(zip(bounds[:-1], bounds[1:]))
        self.sizes = [b - a for a, b in self.slices]
        # Ray's actor handles are not typed usefully: Any.
        actor: Any = ray.remote(_EnvActor).options(num_cpus=cpus_per_shard, **(actor_options or {}))
        self.shards: List[Any] = [actor.remote(b - a, a, env_kwargs) for a, b in self.slices]
        obs_space, act_space, metadata = ray.get(self.shards[0].spaces.remote())
        self.num_envs = int(num_envs)
        self.metadata = metadata
        self.autoreset_mode = metadata["autoreset_mode"]
        self.single_observation_space, self.single_action_space = obs_space, act_space
        self.observation_space = gym.vector.utils.batch_space(obs_space, self.num_envs)
        self.action_space = gym.vector.utils.batch_space(act_space, self.num_envs)

    def reset(self, *, seed: Optional[int] = None,
              options: Optional[Dict[str, Any]] = None) -> Tuple[np.ndarray, Dict[str, Any]]:
        super().reset(seed=seed)
        calls = []
        for (a, b), shard in zip(self.slices, self.shards):
            opts = options
            if options is not None and options.get("reset_mask") is not None:
                opts = {**options, "reset_mask": np.asarray(options["reset_mask"])[a:b]}
            calls.append(shard.reset.remote(seed, opts))
        results = ray.get(calls)
        return np.concatenate([r[0] for r in results]), _join_infos([r[1] for r in results], self.sizes)

    def step(self, actions: Any) -> Tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray, Dict[str, Any]]:
        actions = np.asarray(actions)
        if actions.shape[:1] != (self.num_envs,):
            raise ValueError(f"actions must have {self.num_envs} rows, not shape {actions.shape}")
        results = ray.get([shard.step.remote(actions[a:b]) for (a, b), shard in zip(self.slices, self.shards)])
        obs, reward, terminated, truncated = (np.concatenate([r[i] for r in results]) for i in range(4))
        return obs, reward, terminated, truncated, _join_infos([r[4] for r in results], self.sizes)

    def digest(self) -> np.ndarray:
        """Every environment's state digest, in global order."""
        return np.concatenate(ray.get([s.digest.remote() for s in self.shards]))

    def close_extras(self, **kwargs: Any) -> None:
        for shard in self.shards:
            ray.kill(shard, no_restart=True)
        self.shards = []
