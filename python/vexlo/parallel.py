"""PettingZoo environment: one match, one agent per player."""

from __future__ import annotations

from typing import Any, Mapping

import numpy as np
from gymnasium import spaces
from pettingzoo import ParallelEnv as _PZParallelEnv  # type: ignore[import-untyped]

from .env import (KICK_PRESS, KICK_REARM, PLAYER_ACTION, ActionWriter, KickoffFn, ObservationFn,
                  RewardFn, apply_kickoff, infer_observation_space, make_core)
from .field import FLAG_RED, Field
from .obs import TeamObservation, View
from .render import HumanWindow, Renderer
from .rewards import goal_reward
from .state import State
from .streams import KICKOFF, EnvRandom, EnvStreams


class ParallelEnv(_PZParallelEnv):
    """One Vexlo match in which every player is an agent (``red_0``, ..., ``blue_0``, ...).

    Each agent observes the match in its own team's mirrored view with itself
    first and acts with ``MultiDiscrete([3, 3, 2])`` (dx, dy, kick) in that
    view, so a policy trained as red plays blue unchanged: self-play needs
    nothing more. All agents share the episode: a goal terminates, and
    ``step_limit`` physics ticks truncate, every one of them. Agents missing
    from the action dict stand still.
    """

    metadata: dict[str, Any] = {"name": "vexlo_v0", "render_modes": ["rgb_array", "human"], "render_fps": 60,
                                "is_parallelizable": True}

    def __init__(
        self,
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
        render_mode: str | None = None,
        env_index: int = 0,
    ) -> None:
        if render_mode not in (None, "rgb_array", "human"):
            raise ValueError(f"unsupported render_mode {render_mode!r}")
        self.core = make_core(1, n_red, n_blue, step_limit, tick_skip, vxs)
        self.step_limit = int(step_limit)
        self.tick_skip = max(1, int(tick_skip))
        self.render_mode = render_mode
        self.metadata = {**type(self).metadata, "render_fps": max(1, round(60 / self.tick_skip))}
        self.field = Field.from_core(self.core, vxs)
        teams = np.asarray(self.core.teams())[0]
        self.possible_agents: list[str] = []
        self.views: dict[str, View] = {}
        counts = {"red": 0, "blue": 0}
        for slot, flag in enumerate(teams):
            name = "red" if flag == FLAG_RED else "blue"
            agent = f"{name}_{counts[name]}"
            counts[name] += 1
            self.possible_agents.append(agent)
            self.views[agent] = View.of(self.core, self.field, int(flag), self_slot=slot,
                                        tick_skip=self.tick_skip, step_limit=self.step_limit)
        self.agents: list[str] = []
        self.observation_fn: ObservationFn = observation if observation is not None else TeamObservation()
        self.reward_fn: RewardFn = reward if reward is not None else goal_reward
        self.kickoff_fn = kickoff
        kick = KICK_REARM if rearm_kick else KICK_PRESS
        self._writers = {a: _SlotWriter(v, kick) for a, v in self.views.items()}
        self._actions = np.zeros((1, len(teams), 3), dtype=np.int64)
        self.match_state = State.read(self.core)
        first = self.views[self.possible_agents[0]]
        obs_space = infer_observation_space(self.observation_fn, first, self.match_state)
        self._obs_spaces = {a: spaces.Box(obs_space.low, obs_space.high, obs_space.shape, obs_space.dtype)
                            for a in self.possible_agents}
        self._act_spaces = {a: spaces.MultiDiscrete(list(PLAYER_ACTION)) for a in self.possible_agents}
        self._rng = np.random.default_rng()
        # The streams of environment ``env_index`` of a VectorEnv: its kickoffs.
        self.streams = EnvStreams(1, int(env_index))
        self._renderer: Any = None
        # Opened now, so that a missing display fails here rather than mid-episode.
        self._window = HumanWindow(fps=self.metadata["render_fps"]) if render_mode == "human" else None

    def observation_space(self, agent: str) -> spaces.Space:
        """The observation space of ``agent`` (the same for every agent)."""
        return self._obs_spaces[agent]

    def action_space(self, agent: str) -> spaces.Space:
        """``MultiDiscrete([3, 3, 2])``: dx, dy, kick in the agent's own view."""
        return self._act_spaces[agent]

    def _observe(self) -> dict[str, np.ndarray]:
        return {a: self.observation_fn(self.views[a], self.match_state)[0] for a in self.agents}

    def reset(self, seed: int | None = None,
              options: dict[str, Any] | None = None) -> tuple[dict[str, np.ndarray], dict[str, dict]]:
        """Start a new match with every agent; ``seed`` keys the kickoff's
        streams (those of environment ``env_index`` of a batch). Returns each
        agent's observation and an empty info."""
        if seed is not None:
            self._rng = np.random.default_rng(seed)
        if seed is not None or self.streams.key is None:
            self.streams.seed(seed)
        self.core.reset_all()
        mask = np.ones(1, dtype=bool)
        rows, episodes = self.streams.begin(mask)
        apply_kickoff(self.kickoff_fn, self.views[self.possible_agents[0]], self.core, mask,
                      EnvRandom(self.streams, rows, episodes, KICKOFF, self._rng))
        self.agents = list(self.possible_agents)
        self._returns = {a: 0.0 for a in self.agents}
        self._length = 0
        self.match_state = State.read(self.core)
        if self._window is not None:
            self._window.show(self._draw())
        return self._observe(), {a: {} for a in self.agents}

    def step(self, actions: dict[str, Any]) -> tuple[dict[str, np.ndarray], dict[str, float],
                                                     dict[str, bool], dict[str, bool], dict[str, dict]]:
        """Advance the match by ``tick_skip`` ticks with a dict of agent name
        to ``(dx, dy, kick)``; returns per-agent dicts of observation,
        reward, terminated, truncated and info. After a goal or the step
        limit ``agents`` is empty and further steps return empty dicts. On
        that last step each agent's info holds ``goal``, ``conceded`` and
        ``episode`` (``r``: return, ``l``: length in steps)."""
        if not isinstance(actions, Mapping):
            raise TypeError(f"actions must be a dict of agent name to action, not {type(actions).__name__}")
        unknown = [a for a in actions if a not in self._writers]
        if unknown:
            raise ValueError(f"unknown agent {unknown[0]!r} in actions; the agents are {self.possible_agents}")
        if not self.agents:
            return {}, {}, {}, {}, {}
        self._actions[:] = 0
        for agent in self.agents:
            action = actions.get(agent)
            if action is not None:
                try:
                    self._writers[agent].write(self._actions, action)
                except (TypeError, ValueError) as err:
                    raise type(err)(f"{agent}: {err}") from None
        prev = self.match_state
        scored = self.core.physics_step(self._actions)
        self.match_state = State.read(self.core)
        goal = bool(scored[0] >= 0)
        timeout = bool(self.match_state.steps[0] >= self.step_limit) and not goal
        obs = self._observe()
        rewards = {a: float(self.reward_fn(self.views[a], prev, self.match_state, scored)[0]) for a in self.agents}
        terminated = {a: goal for a in self.agents}
        truncated = {a: timeout for a in self.agents}
        infos: dict[str, dict] = {a: {} for a in self.agents}
        self._length += 1
        for a, r in rewards.items():
            self._returns[a] += r
        if goal or timeout:
            # As a VectorEnv's info for the agent's side, on the episode's last step.
            for a in self.agents:
                team = self.views[a].team
                infos[a] = {"goal": goal and int(scored[0]) == self.views[a].opponent,
                            "conceded": goal and int(scored[0]) == team,
                            "episode": {"r": self._returns[a], "l": self._length}}
            self.agents = []
        if self._window is not None:
            self._window.show(self._draw())
        return obs, rewards, terminated, truncated, infos

    @property
    def state_space(self) -> spaces.Space:
        return self._obs_spaces[self.possible_agents[0]]

    def state(self) -> np.ndarray:
        """The whole match as one vector: the first agent's observation."""
        return self.observation_fn(self.views[self.possible_agents[0]], self.match_state)[0]

    def render(self) -> np.ndarray | None:
        """An RGB image ``(H, W, 3)`` of the match (``render_mode="rgb_array"``);
        with ``"human"`` the frame goes to the window and ``None`` comes back."""
        if self.render_mode is None:
            return None
        if self._window is not None:
            self._window.show(self._draw())
            return None
        return self._draw()

    def _draw(self) -> np.ndarray:
        if self._renderer is None:
            self._renderer = Renderer(self.field)
        kicking = np.asarray(self.core.kick_state()[0]) > 0
        return self._renderer.draw(State.read(self.core), self.core.teams()[0], 0, kicking)

    def close(self) -> None:
        """Drop the renderer and close the window, if any."""
        self._renderer = None
        if self._window is not None:
            self._window.close()
            self._window = None


class _SlotWriter(ActionWriter):
    """Writes one agent's (dx, dy, kick) into its own slot only."""

    def __init__(self, view: View, kick_value: int) -> None:
        super().__init__(view, kick_value)
        slot = int(view.slots[0])
        self.slots = slice(slot, slot + 1)
        self.n = 1
        self.nvec = np.array(PLAYER_ACTION, dtype=np.uint64)
        self.shape = self.nvec.shape
