"""Stable-Baselines3 bridge: a ``VecEnv`` over :class:`vexlo.VectorEnv` or
:class:`vexlo.SelfPlayEnv`.

    from stable_baselines3 import PPO
    from vexlo.sb3 import VexloVecEnv

    model = PPO("MlpPolicy", VexloVecEnv(64), device="cpu")       # agent plays red
    model = PPO("MlpPolicy", VexloVecEnv(vexlo.SelfPlayEnv(32, 2, 2, autoreset_mode="SameStep")))

Importing this module needs ``stable-baselines3``.
"""

from __future__ import annotations

from typing import Any, Sequence

import gymnasium as gym
import numpy as np
from gymnasium.vector import AutoresetMode
# Without stable-baselines3 installed, mypy sees VecEnv as Any.
from stable_baselines3.common.callbacks import BaseCallback  # type: ignore[import-not-found, unused-ignore]
from stable_baselines3.common.vec_env import VecEnv  # type: ignore[import-not-found, unused-ignore]

from .env import VectorEnv, unbatch_info


class VexloVecEnv(VecEnv):
    """SB3's vectorised-environment interface over a vexlo vector environment.

    ``env`` is a vexlo vector environment built with
    ``autoreset_mode="SameStep"`` (what SB3 expects: an ended environment's
    returned observation is already the next episode's first), or a number of
    environments, for which a ``vexlo.VectorEnv`` is built with ``kwargs``.

    The infos of an environment whose episode ended hold
    ``terminal_observation``, ``TimeLimit.truncated``, ``goal`` and
    ``conceded`` (the agent's team scored or conceded) and ``episode``
    (``r``: return, ``l``: length in steps), which SB3's logger reads; the
    others are empty. Rewards are ``float32``. ``seed(s)`` reseeds the whole
    batch at the next ``reset``.
    """

    def __init__(self, env: gym.vector.VectorEnv | int = 1, **kwargs: Any) -> None:
        if isinstance(env, int):
            env = VectorEnv(env, autoreset_mode=AutoresetMode.SAME_STEP, **kwargs)
        elif kwargs:
            raise TypeError("keyword arguments build a VectorEnv: pass them only with a number of environments")
        if getattr(env, "autoreset_mode", None) != AutoresetMode.SAME_STEP:
            raise ValueError(f"VexloVecEnv needs an environment with autoreset_mode='SameStep', "
                             f"not {getattr(env, 'autoreset_mode', None)}")
        self.env = env
        super().__init__(env.num_envs, env.single_observation_space, env.single_action_space)
        self._actions: np.ndarray | None = None

    def reset(self) -> np.ndarray:
        seed = self._seeds[0]
        options = self._options[0] or None
        obs, _ = self.env.reset(seed=seed, options=options)
        self._reset_seeds()
        self._reset_options()
        return obs

    def step_async(self, actions: np.ndarray) -> None:
        self._actions = actions

    def step_wait(self) -> tuple[np.ndarray, np.ndarray, np.ndarray, list[dict[str, Any]]]:
        obs, reward, terminated, truncated, info = self.env.step(self._actions)
        dones = terminated | truncated
        infos: list[dict[str, Any]] = [{} for _ in range(self.num_envs)]
        if "final_obs" in info:
            final_obs, final_info = info["final_obs"], info["final_info"]
            for i in np.flatnonzero(info["_final_obs"]).tolist():
                entry = unbatch_info(final_info, i)
                entry["terminal_observation"] = final_obs[i]
                entry["TimeLimit.truncated"] = bool(truncated[i] and not terminated[i])
                infos[i] = entry
        return obs, reward.astype(np.float32), dones, infos

    def close(self) -> None:
        self.env.close()

    def get_attr(self, attr_name: str, indices: Any = None) -> list[Any]:
        """The attribute of the one underlying environment, once per index."""
        return [getattr(self.env, attr_name)] * self._count(indices)

    def set_attr(self, attr_name: str, value: Any, indices: Any = None) -> None:
        """Sets the attribute on the one underlying environment (every index shares it)."""
        setattr(self.env, attr_name, value)

    def env_method(self, method_name: str, *method_args: Any, indices: Any = None,
                   **method_kwargs: Any) -> list[Any]:
        """Calls the method once on the underlying environment; its result once per index."""
        result = getattr(self.env, method_name)(*method_args, **method_kwargs)
        return [result] * self._count(indices)

    def env_is_wrapped(self, wrapper_class: type, indices: Any = None) -> list[bool]:
        return [False] * self._count(indices)

    def get_images(self) -> Sequence[np.ndarray | None]:
        """The underlying environment's image of its first match."""
        image: Any = self.env.render()
        return [image]

    def _count(self, indices: Any) -> int:
        return len(list(self._get_indices(indices)))


class GoalRate(BaseCallback):
    """Records the share of episodes ended by the agent's goal in every
    rollout, shows a progress bar, and stops training once a rollout's share
    reaches ``target`` (``None``: never).

    Everything it decides depends on the steps and episodes seen, never on
    the clock, so a seeded run stops at the same step every time. The bar is
    ``tqdm``'s when that is installed; otherwise, with ``verbose``, a line
    per rollout.
    """

    def __init__(self, total_steps: int, target: float | None = None, verbose: int = 1) -> None:
        super().__init__(verbose)
        self.total_steps = int(total_steps)
        self.target = target
        #: ``(steps, goal rate, episodes)`` after each rollout that ended episodes.
        self.curve: list[tuple[int, float, int]] = []
        self.reached = False
        self._ended = self._goals = 0
        self._bar: Any = None

    def _on_training_start(self) -> None:
        if self.verbose:
            try:
                from tqdm import tqdm  # type: ignore[import-untyped, import-not-found, unused-ignore]
            except ImportError:
                return
            self._bar = tqdm(total=self.total_steps, unit="step", dynamic_ncols=True)

    def _on_step(self) -> bool:
        for info in self.locals["infos"]:
            if "goal" in info:
                self._ended += 1
                self._goals += bool(info["goal"])
        if self._bar is not None:
            self._bar.update(self.model.num_timesteps - self._bar.n)
        return not self.reached

    def _on_rollout_end(self) -> None:
        if not self._ended:
            return
        rate = self._goals / self._ended
        self.curve.append((self.num_timesteps, rate, self._ended))
        self._ended = self._goals = 0
        if self.target is not None and rate >= self.target:
            self.reached = True
        if self._bar is not None:
            self._bar.set_postfix_str(f"goal rate {rate:.1%}")
        elif self.verbose:
            print(f"{self.num_timesteps:>10,d} steps  goal rate {rate:6.1%} over {self.curve[-1][2]} episodes",
                  flush=True)

    def _on_training_end(self) -> None:
        if self._bar is not None:
            self._bar.close()
            self._bar = None
