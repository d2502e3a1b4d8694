"""Batched self-play: every player of a batch of matches is an agent."""

from __future__ import annotations

from typing import Any

import gymnasium as gym
import numpy as np
from gymnasium import spaces
from gymnasium.vector import AutoresetMode
from gymnasium.vector.utils import batch_space

from .env import (KICK_PRESS, KICK_REARM, PLAYER_ACTION, ActionWriter, KickoffFn, ObservationFn,
                  RewardFn, apply_kickoff, engine_built, episode_info, final_step_info,
                  infer_observation_space, make_core, match_end_flags, step_and_restart)
from .field import FLAG_BLUE, FLAG_RED, Field
from .obs import TeamObservation, View
from .rewards import goal_reward
from .state import State
from .streams import KICKOFF, EnvRandom, EnvStreams


class SelfPlayEnv(gym.vector.VectorEnv):
    """``num_matches`` matches in which every one of the ``P`` players is an
    agent: a Gymnasium vector environment of ``num_envs = num_matches * P``
    agents, all stepped by one engine call.

    Agent row ``m * P + j`` is player slot ``j`` of match ``m`` (slots are
    ``possible_agents``: ``red_0, ..., blue_0, ...``). Each agent observes its
    match in its own team's view with itself first and acts with
    ``MultiDiscrete([3, 3, 2])`` in that view, exactly as the agents of
    :class:`vexlo.ParallelEnv` do, so one policy fed the whole batch plays
    both sides. Rewards are per agent (``reward(view, prev, state, scored)``
    is called once per slot); a goal terminates, and ``step_limit`` physics
    ticks truncate, all agents of their match together, which then restart by
    ``autoreset_mode`` as in :class:`vexlo.VectorEnv`. ``info`` follows
    :meth:`vexlo.VectorEnv.step`, per agent (``goal``: the agent's team scored).

    ``kickoff`` places restarted matches as in :class:`vexlo.VectorEnv`
    (``None``: the engine's, red kicks off), given red's view; its streams
    are those of match ``env_offset + m``.
    """

    metadata: dict[str, Any] = {
        "render_modes": ["rgb_array"],
        "render_fps": 60,
        "autoreset_mode": AutoresetMode.NEXT_STEP,
    }

    def __init__(
        self,
        num_matches: int = 1,
        n_red: int = 1,
        n_blue: int = 1,
        *,
        step_limit: int = 2400,
        tick_skip: int = 8,
        vxs: str | None = None,
        observation: ObservationFn | None = None,
        reward: RewardFn | None = None,
        kickoff: KickoffFn | None = None,
        rearm_kick: bool = True,
        autoreset_mode: str | AutoresetMode = AutoresetMode.NEXT_STEP,
        render_mode: str | None = None,
        observation_space: spaces.Space | None = None,
        env_offset: int = 0,
    ) -> None:
        if render_mode not in (None, "rgb_array"):
            raise ValueError(f"unsupported render_mode {render_mode!r}")
        self.core = make_core(num_matches, n_red, n_blue, step_limit, tick_skip, vxs)
        self.num_matches = int(self.core.n_envs)
        self.n_players = int(self.core.n_players)
        self.num_envs = self.num_matches * self.n_players
        self.step_limit = int(step_limit)
        self.tick_skip = max(1, int(tick_skip))
        self.render_mode = render_mode
        self.autoreset_mode = (autoreset_mode if isinstance(autoreset_mode, AutoresetMode)
                               else AutoresetMode(autoreset_mode))
        self.metadata = {**type(self).metadata, "autoreset_mode": self.autoreset_mode,
                         "render_fps": max(1, round(60 / self.tick_skip))}
        self.field = Field.from_core(self.core, vxs)
        self.streams = EnvStreams(self.num_matches, int(env_offset))

        teams = np.asarray(self.core.teams())[0]
        self.possible_agents: list[str] = []
        counts = {FLAG_RED: 0, FLAG_BLUE: 0}
        for flag in teams:
            self.possible_agents.append(f"{'red' if flag == FLAG_RED else 'blue'}_{counts[int(flag)]}")
            counts[int(flag)] += 1
        self.views = [View.of(self.core, self.field, int(flag), self_slot=slot, tick_skip=self.tick_skip,
                              step_limit=self.step_limit) for slot, flag in enumerate(teams)]
        self.red_view = View.of(self.core, self.field, FLAG_RED, tick_skip=self.tick_skip,
                                step_limit=self.step_limit)
        self.observation_fn: ObservationFn = observation if observation is not None else TeamObservation()
        self._fused_observation = engine_built(self.observation_fn)
        self.reward_fn: RewardFn = reward if reward is not None else goal_reward
        self.kickoff_fn = kickoff

        # Engine input = digits * mul + add, in one pass each over the batch:
        # (dx, dy, kick) -> (sign * (dx - 1), dy - 1, kick * kick_value).
        kick = KICK_REARM if rearm_kick else KICK_PRESS
        signs = np.array([int(v.sign) for v in self.views], dtype=np.int64)
        mul = np.stack([signs, np.ones_like(signs), np.full_like(signs, kick)], axis=-1)
        add = np.stack([-signs, -np.ones_like(signs), np.zeros_like(signs)], axis=-1)
        self._mul = np.ascontiguousarray(np.tile(mul, (self.num_matches, 1)))
        self._add = np.ascontiguousarray(np.tile(add, (self.num_matches, 1)))
        self._actions = np.zeros((self.num_matches, self.n_players, 3), dtype=np.int64)
        self._checker = ActionWriter(self.views[0], kick)
        self._checker.nvec = np.array(PLAYER_ACTION, dtype=np.uint64)
        self._checker.shape = (self.num_envs, 3)
        #: Team flag of every agent row.
        self.agent_team = np.tile(teams.astype(np.int64), self.num_matches)

        self.single_action_space = spaces.MultiDiscrete(list(PLAYER_ACTION))
        self.action_space = batch_space(self.single_action_space, self.num_envs)
        self.match_state = State.read(self.core)
        if observation_space is None:
            observation_space = infer_observation_space(self.observation_fn, self.views[0], self.match_state)
        self.single_observation_space = observation_space
        self.observation_space = batch_space(self.single_observation_space, self.num_envs)
        self._row_shape = (self.num_matches, *(observation_space.shape or ()))
        self._pending = np.zeros(self.num_matches, dtype=bool)
        self._any_pending = False
        self.episode_return = np.zeros(self.num_envs)
        self._steps_taken = 0
        self._episode_start = np.zeros(self.num_envs, dtype=np.int64)
        self._renderer: Any = None

    @property
    def episode_length(self) -> np.ndarray:
        """Steps so far of every agent's current episode."""
        return self._steps_taken - self._episode_start

    def agent_rows(self, agent: str) -> np.ndarray:
        """Rows of ``agent`` (a name of ``possible_agents``) in every match, in match order."""
        slot = self.possible_agents.index(agent)
        return np.arange(slot, self.num_envs, self.n_players)

    # -- episode control -------------------------------------------------
    def reset(self, *, seed: int | None = None,
              options: dict[str, Any] | None = None) -> tuple[np.ndarray, dict[str, Any]]:
        """Reset every match, or those of ``options["reset_mask"]``: a bool
        mask of matches ``(num_matches,)`` or of agents ``(num_envs,)`` that
        selects whole matches. ``seed`` keys every random stream anew."""
        super().reset(seed=seed)
        if seed is not None or self.streams.key is None:
            self.streams.seed(seed)
        mask = None if options is None else options.get("reset_mask")
        if mask is None:
            self.core.reset_all()
            mask = np.ones(self.num_matches, dtype=bool)
        else:
            mask = self._match_mask(np.asarray(mask))
            self.core.reset_mask(mask)
        self._begin_episodes(mask)
        self._pending &= ~mask
        self._any_pending = bool(np.count_nonzero(self._pending))
        self.match_state = State.read(self.core)
        return self._observe(self.match_state), {}

    def step(self, actions: Any) -> tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray, dict[str, Any]]:
        """Advance every match by ``tick_skip`` ticks with ``(num_envs, 3)``
        actions, one row per agent; returns per-agent ``(obs, reward,
        terminated, truncated, info)`` as :meth:`vexlo.VectorEnv.step` does."""
        digits = self._checker.check(actions, self.num_envs)
        self._steps_taken += 1
        flat = self._actions.reshape(self.num_envs, 3)
        np.multiply(digits, self._mul, out=flat)
        np.add(flat, self._add, out=flat)
        prev = self.match_state
        pending = self._pending
        restarted = self._any_pending and self.autoreset_mode == AutoresetMode.NEXT_STEP
        # Every player's view from the step's own engine call when it can (one ball prediction for all).
        scored, state, views = step_and_restart(self, self.views, pending, restarted)
        obs = None
        if views is not None:
            if views.shape[1:] != self._row_shape:
                raise ValueError(f"observation function returned shape {views.shape[1:]}, expected "
                                 f"{self._row_shape} (one row per match)")
            obs = views.transpose(1, 0, 2).reshape(self.num_envs, *self._row_shape[1:])
        terminated, truncated, any_goal = match_end_flags(scored, state.steps, self.step_limit)
        rewards = np.empty((self.num_matches, self.n_players))
        for j, view in enumerate(self.views):
            r = np.asarray(self.reward_fn(view, prev, state, scored), dtype=np.float64)
            if r.shape != terminated.shape:
                raise ValueError(f"reward function returned shape {r.shape}, expected {terminated.shape}")
            rewards[:, j] = r
        if restarted:
            terminated[pending] = False
            truncated[pending] = False
            rewards[pending] = 0.0
        reward = rewards.reshape(self.num_envs)
        self.episode_return += reward
        if obs is None:
            obs = self._observe(state)
        infos: dict[str, Any] = {}

        done = (terminated | truncated) if any_goal or restarted else truncated.copy()
        any_done = bool(np.count_nonzero(done))
        if any_done:
            agents_done = np.repeat(done, self.n_players)
            ended = episode_info(agents_done, np.repeat(scored, self.n_players), self.agent_team,
                                 self.episode_return, self.episode_length)
            if self.autoreset_mode == AutoresetMode.SAME_STEP:
                infos = final_step_info(obs, agents_done, ended)
                self.core.reset_mask(done)
                self._begin_episodes(done)
                state = State.read(self.core)
                obs = obs.copy()  # final_obs holds rows of the old array
                obs[agents_done] = self._observe(state)[agents_done]
            else:
                infos = ended
        if self.autoreset_mode == AutoresetMode.NEXT_STEP:
            self._pending, self._any_pending = done, any_done
        self.match_state = state
        return (obs, reward, np.repeat(terminated, self.n_players), np.repeat(truncated, self.n_players),
                infos)

    def _observe(self, state: State) -> np.ndarray:
        """Every agent's observation, ``(num_envs, D)``, from one call per player slot."""
        out = np.empty((self.num_matches, self.n_players, *self._row_shape[1:]),
                       dtype=self.single_observation_space.dtype)
        for j, view in enumerate(self.views):
            obs = self.observation_fn(view, state)
            if obs.shape != self._row_shape:
                raise ValueError(f"observation function returned shape {obs.shape}, expected "
                                 f"{self._row_shape} (one row per match)")
            out[:, j] = obs
        return out.reshape(self.num_envs, *self._row_shape[1:])

    def _match_mask(self, mask: np.ndarray) -> np.ndarray:
        if mask.dtype == np.bool_ and mask.shape == (self.num_matches,):
            return mask
        if mask.dtype == np.bool_ and mask.shape == (self.num_envs,):
            per_match = mask.reshape(self.num_matches, self.n_players)
            whole = np.asarray(per_match.all(axis=1))
            if np.array_equal(whole, per_match.any(axis=1)):
                return whole
            raise ValueError("reset_mask must select every agent of a match or none")
        raise ValueError(f"reset_mask must be a bool array of shape ({self.num_matches},) (matches) "
                         f"or ({self.num_envs},) (agents)")

    def _begin_episodes(self, mask: np.ndarray) -> None:
        """Start the episode statistics and kickoffs of the matches under ``mask``, just reset."""
        agents = np.repeat(mask, self.n_players)
        self.episode_return[agents] = 0.0
        self._episode_start[agents] = self._steps_taken
        rows, episodes = self.streams.begin(mask)
        if self.kickoff_fn is not None:
            rng = EnvRandom(self.streams, rows, episodes, KICKOFF, self.np_random)
            apply_kickoff(self.kickoff_fn, self.red_view, self.core, mask, rng)

    # -- rendering ---------------------------------------------------------
    def render(self) -> np.ndarray | None:  # type: ignore[override]
        """An RGB image ``(H, W, 3)`` of match 0 (``render_mode="rgb_array"``)."""
        if self.render_mode is None:
            gym.logger.warn("render() called without render_mode='rgb_array'")
            return None
        return self.render_match(0)

    def render_match(self, index: int = 0) -> np.ndarray:
        """An RGB image of match ``index``."""
        from .render import Renderer

        if self._renderer is None:
            self._renderer = Renderer(self.field)
        return self._renderer.draw(State.read(self.core), self.core.teams()[0], index=index)

    def close_extras(self, **kwargs: Any) -> None:
        """Drop the renderer."""
        self._renderer = None
