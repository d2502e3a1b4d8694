"""Gymnasium environments over one batched ``vexlo_core.VecEnv``."""

from __future__ import annotations

from typing import Any, Callable, Optional, Sequence

import gymnasium as gym
import numpy as np
import vexlo_core
from gymnasium import spaces
from gymnasium.vector import AutoresetMode
from gymnasium.vector.utils import batch_space

from .field import FLAG_BLUE, FLAG_RED, Field
from .kickoff import OpenKickoff
from .obs import OBS_BOUND, TeamObservation, View, team_flag
from .render import HumanWindow
from .rewards import goal_reward
from .state import State
from .streams import KICKOFF, OPPONENT, EnvRandom, EnvStreams

Policy = Callable[[np.ndarray], np.ndarray]
ObservationFn = Callable[[View, State], np.ndarray]
RewardFn = Callable[[View, State, State, np.ndarray], np.ndarray]
KickoffFn = Callable[[View, State, np.ndarray, EnvRandom], Optional[State]]

#: Digits of one player's action: dx and dy in {0, 1, 2} (for -1, 0, +1), kick in {0, 1}.
PLAYER_ACTION = (3, 3, 2)
#: Engine kick input for a pressed kick: 2 re-arms on every tick, 1 kicks once per press.
KICK_REARM = 2
KICK_PRESS = 1


def make_core(num_envs: int, n_red: int, n_blue: int, step_limit: int, tick_skip: int,
              vxs: str | None) -> vexlo_core.VecEnv:
    """A ``VecEnv`` of the built-in stadium, or of ``vxs`` when given."""
    if vxs is None:
        return vexlo_core.VecEnv(num_envs, n_red, n_blue, step_limit=step_limit, tick_skip=tick_skip)
    return vexlo_core.VecEnv.from_vxs(vxs, num_envs, n_red, n_blue, step_limit=step_limit,
                                      tick_skip=tick_skip)


class ActionWriter:
    """Turns one team's action digits into rows of the engine's ``(N, P, 3)`` input.

    The digits are in the team's view (x mirrored for a team whose goal is on
    the right), so dx is flipped back here. Actions outside the action space
    are refused before anything is written: the engine would take any integer
    (a digit 7 would still run, a kick digit 2 would re-arm).
    """

    def __init__(self, view: View, kick_value: int) -> None:
        own = np.asarray(view.own_slots)
        self.n = len(own)
        if self.n and np.array_equal(own, np.arange(own[0], own[0] + self.n)):
            self.slots: slice | np.ndarray = slice(int(own[0]), int(own[0]) + self.n)
        else:
            self.slots = own
        self.dx_sign = int(view.sign)
        self.kick_value = int(kick_value)
        self.nvec = np.tile(np.array(PLAYER_ACTION, dtype=np.uint64), self.n)
        #: Shape of one call's actions; ``None``: ``(n_envs, 3 * n)``.
        self.shape: tuple[int, ...] | None = None
        self._bound: np.ndarray | None = None
        self._in_range = np.empty(0, dtype=bool)
        # The common case, int64 digits of the default shape, is checked and
        # written by the engine in one call (the NumPy passes cost several
        # microseconds at any size); it knows only the two kick values.
        self._core = view.core if self.kick_value in (KICK_PRESS, KICK_REARM) else None
        self._own = tuple(int(s) for s in own)
        self._mirror = self.dx_sign < 0

    def write(self, buf: np.ndarray, actions: Any) -> None:
        # The engine returns False, writing nothing, at a digit out of range:
        # check then raises the error of the NumPy path. A writer given its
        # own shape (one agent's slot, say) keeps to the NumPy path.
        if (self._core is not None and self.shape is None and isinstance(actions, np.ndarray)
                and actions.dtype == np.int64 and actions.shape == (buf.shape[0], 3 * self.n)
                and self._core.team_inputs(actions, self._own, self._mirror, self.kick_value, buf)):
            return
        a = self.check(actions, buf.shape[0])
        a = a.reshape(buf.shape[0], self.n, 3)
        rows = buf[:, self.slots]
        # One pass per input column: digit 0, 1, 2 is -1, 0, +1 (dx mirrored).
        if self.dx_sign < 0:
            np.subtract(1, a[..., 0], out=rows[..., 0])
        else:
            np.subtract(a[..., 0], 1, out=rows[..., 0])
        np.subtract(a[..., 1], 1, out=rows[..., 1])
        np.multiply(a[..., 2], self.kick_value, out=rows[..., 2])
        if not isinstance(self.slots, slice):
            buf[:, self.slots] = rows

    def check(self, actions: Any, n_envs: int) -> np.ndarray:
        """``actions`` as ``int64`` digits; a ``TypeError``/``ValueError`` naming
        the first value outside ``MultiDiscrete(nvec)``.

        Integer arrays pass with one comparison: seen as unsigned, a negative
        digit is huge, so ``digit < nvec`` bounds both sides. Floats pass when
        they hold whole digits (as a policy's float output may).
        """
        a = np.asarray(actions)
        shape = self.shape if self.shape is not None else (n_envs, self.nvec.size)
        if a.shape != shape:
            raise ValueError(f"actions must have shape {shape} for {self._space()}, not {a.shape}")
        kind = a.dtype.kind
        if kind == "f":
            ok = np.isfinite(a) & (np.floor(a) == a) & (a >= 0) & (a < self.nvec)
            if np.count_nonzero(ok) != a.size:
                self._refuse(a, ok)
            return a.astype(np.int64)
        if kind not in "iub":
            first = f" (first value {a.ravel()[:1].tolist()[0]!r})" if a.size else ""
            raise TypeError(f"actions must be integers of {self._space()}, not {a.dtype}{first}")
        digits = a if a.dtype == np.int64 else a.astype(np.int64)
        if self._bound is None or self._bound.shape != a.shape:
            # Bounds of the full shape: NumPy runs one flat loop instead of
            # a three-element inner loop per row, four times faster.
            self._bound = np.ascontiguousarray(np.broadcast_to(self.nvec, a.shape))
            self._in_range = np.empty(a.shape, dtype=bool)
        ok = self._in_range
        np.less(digits.view(np.uint64), self._bound, out=ok)
        if np.count_nonzero(ok) != a.size:
            self._refuse(a, ok)
        return digits

    def _space(self) -> str:
        return f"MultiDiscrete({self.nvec.tolist()})"

    def _refuse(self, a: np.ndarray, ok: np.ndarray) -> None:
        index = tuple(int(i) for i in np.unravel_index(int(np.flatnonzero(~ok)[0]), a.shape))
        raise ValueError(f"action {a[index].item()!r} at index {index} is outside {self._space()}: "
                         f"entry {index[-1]} takes an integer 0..{int(self.nvec[index[-1]]) - 1}")


def engine_built(fn: ObservationFn) -> TeamObservation | None:
    """``fn`` when it is the default observation (not a subclass that
    changes it), which can come from the same engine call as the step."""
    if isinstance(fn, TeamObservation) and type(fn).__call__ is TeamObservation.__call__:
        return fn
    return None


def step_and_restart(env: Any, views: Sequence[View], pending: np.ndarray,
                     restarted: bool) -> tuple[np.ndarray, State, np.ndarray | None]:
    """``env``'s engine step with ``env._actions``, then the restart of the
    environments under ``pending`` (when ``restarted``) with their new
    episodes begun: ``(scored, state, obs)``. ``env`` is a
    :class:`VectorEnv` or a ``SelfPlayEnv``. With the default observation
    one engine call also observes from every one of ``views`` (``obs``
    ``(len(views), N, D)``); otherwise, or when a kickoff would move the
    restarted environments after that call, ``obs`` is None."""
    fused = env._fused_observation
    if fused is not None and (not restarted or env.kickoff_fn is None):
        scored, state, obs = fused.step_observed(env.core, views, env._actions,
                                                 pending if restarted else None)
        if restarted:
            env._begin_episodes(pending)
        return scored, state, obs
    scored = env.core.physics_step(env._actions)
    if restarted:
        env.core.reset_mask(pending)
        env._begin_episodes(pending)
    return scored, State.read(env.core), None


def infer_observation_space(fn: ObservationFn, view: View, state: State) -> spaces.Box:
    """The single-environment space of ``fn``'s output, probed once on ``state``
    (which must be the engine's current state: observations may query it)."""
    sample = np.asarray(fn(view, state))
    if sample.ndim < 2 or sample.shape[0] != state.n_envs:
        raise ValueError(f"observation function returned shape {sample.shape}: it must give one row "
                         f"per environment, ({state.n_envs}, ...)")
    if isinstance(fn, TeamObservation):
        bound = OBS_BOUND
    else:
        bound = np.inf
    return spaces.Box(-bound, bound, shape=sample.shape[1:], dtype=sample.dtype)


def apply_kickoff(fn: KickoffFn | None, view: View, core: vexlo_core.VecEnv, mask: np.ndarray,
                  rng: EnvRandom) -> None:
    """Let ``fn`` place the environments under ``mask`` that were just reset."""
    if fn is None:
        return
    state = State.read(core)
    placed = fn(view, state, mask, rng)
    if placed is not None:
        # Placement writes every environment and starts play in all of them;
        # the others get their whole state back (held kicks, phase, masks).
        kept = ~mask
        others = core.save_state(kept) if kept.any() else None
        placed.write(core, steps=np.where(mask, 0, state.steps))
        if others is not None:
            core.load_state(others, kept)


def episode_info(done: np.ndarray, scored: np.ndarray, team: int | np.ndarray, returns: np.ndarray,
                 lengths: np.ndarray) -> dict[str, Any]:
    """The infos of the environments whose episode ended (``done``), batched
    as Gymnasium batches single environments' infos: values with a mask
    ``_key`` of the environments that have them, zeros elsewhere. ``team``
    is the agent's team flag, one for all or one per environment."""
    opponent = (FLAG_RED + FLAG_BLUE) - team
    mask = done.copy()  # one array for every mask: the info is built on many steps
    return {
        "goal": (scored == opponent) & done, "_goal": mask,
        "conceded": (scored == team) & done, "_conceded": mask,
        "episode": {"r": np.where(done, returns, 0.0), "_r": mask,
                    "l": np.where(done, lengths, 0), "_l": mask},
        "_episode": mask,
    }


def match_end_flags(scored: np.ndarray, steps: np.ndarray, step_limit: int) -> tuple[np.ndarray, np.ndarray, bool]:
    """``terminated`` (a goal), ``truncated`` (the step limit without a goal)
    and whether any goal fell, from one step's engine results."""
    # count_nonzero rather than any(): it skips the reduction machinery,
    # which costs more than the scan of a batch.
    terminated = scored >= 0
    truncated = steps >= step_limit
    any_goal = bool(np.count_nonzero(terminated))
    if any_goal:
        truncated &= ~terminated
    return terminated, truncated, any_goal


def final_step_info(obs: np.ndarray, done: np.ndarray, ended: dict[str, Any]) -> dict[str, Any]:
    """Same-step autoreset's info: the ended rows' last observations and
    infos under ``final_obs``/``final_info``, each with its mask."""
    final = np.full(done.shape[0], None, dtype=object)
    for i in np.flatnonzero(done):
        final[i] = obs[i]
    return {"final_obs": final, "_final_obs": done.copy(), "final_info": ended, "_final_info": done.copy()}


def unbatch_info(info: dict[str, Any], index: int) -> dict[str, Any]:
    """Environment ``index``'s entries of a batched info dict, as plain Python values."""
    out: dict[str, Any] = {}
    for key, value in info.items():
        mask = info.get(f"_{key}")
        if key.startswith("_") or mask is None or not mask[index]:
            continue
        if isinstance(value, dict):
            out[key] = unbatch_info(value, index)
        elif key == "final_obs":
            out[key] = value[index]
        else:
            item = value[index]
            out[key] = item.item() if isinstance(item, np.generic) else item
    return out


class VectorEnv(gym.vector.VectorEnv):
    """A batch of ``num_envs`` matches in which the agent controls one team.

    The agent's action per environment is ``MultiDiscrete([3, 3, 2] * k)`` for
    its ``k`` players, in the team's mirrored view (see :class:`vexlo.View`).
    The other team is driven by ``opponent`` (a batched policy fed with its own
    view's observations) or stands still (``None``).

    An episode ends with a goal (``terminated``) or when an environment has run
    ``step_limit`` physics ticks since its reset (``truncated``). Ended
    environments restart according to ``autoreset_mode`` (next-step by
    default, as Gymnasium's own vector environments do), using ``reset_mask``.

    Observation, reward and kickoff are batched callables: ``observation(view,
    state) -> (N, D)``, ``reward(view, prev, state, scored) -> (N,)`` and
    ``kickoff(view, state, mask, rng) -> State | None``, where ``rng`` is a
    :class:`vexlo.streams.EnvRandom` with one stream per reset environment.
    ``kickoff=None`` keeps the engine's kickoff (red kicks off, the kickoff
    barrier holds blue back); the default ``"auto"`` does so when the agent
    plays red and uses :class:`vexlo.kickoff.OpenKickoff` when it plays blue,
    which a still red team would otherwise lock out of the ball.

    Every environment draws its kickoffs, and a ``RandomPolicy`` opponent its
    actions, from its own streams keyed by the seed, its global index
    ``env_offset + i`` and its episode number: batches that split a larger one
    with matching offsets play the same episodes.
    """

    metadata: dict[str, Any] = {
        "render_modes": ["rgb_array", "human"],
        "render_fps": 60,
        "autoreset_mode": AutoresetMode.NEXT_STEP,
    }

    def __init__(
        self,
        num_envs: int = 1,
        n_red: int = 1,
        n_blue: int = 1,
        *,
        team: int | str = "red",
        step_limit: int = 2400,
        tick_skip: int = 8,
        vxs: str | None = None,
        opponent: Policy | None = None,
        observation: ObservationFn | None = None,
        reward: RewardFn | None = None,
        kickoff: KickoffFn | str | None = "auto",
        rearm_kick: bool = True,
        autoreset_mode: str | AutoresetMode = AutoresetMode.NEXT_STEP,
        render_mode: str | None = None,
        observation_space: spaces.Space | None = None,
        env_offset: int = 0,
    ) -> None:
        if render_mode not in (None, *self.metadata["render_modes"]):
            raise ValueError(f"unsupported render_mode {render_mode!r}")
        self.core = make_core(num_envs, n_red, n_blue, step_limit, tick_skip, vxs)
        self.num_envs = int(self.core.n_envs)
        self.streams = EnvStreams(self.num_envs, int(env_offset))
        self.n_players = int(self.core.n_players)
        self.step_limit = int(step_limit)
        self.tick_skip = max(1, int(tick_skip))
        self.render_mode = render_mode
        self.autoreset_mode = (autoreset_mode if isinstance(autoreset_mode, AutoresetMode)
                               else AutoresetMode(autoreset_mode))
        self.metadata = {**type(self).metadata, "autoreset_mode": self.autoreset_mode,
                         "render_fps": max(1, round(60 / self.tick_skip))}
        self.field = Field.from_core(self.core, vxs)
        flag = team_flag(team)
        other = "blue" if flag == team_flag("red") else "red"
        self.view = View.of(self.core, self.field, flag, tick_skip=self.tick_skip, step_limit=self.step_limit)
        self.opponent_view = View.of(self.core, self.field, other, tick_skip=self.tick_skip,
                                     step_limit=self.step_limit)
        self.observation_fn: ObservationFn = observation if observation is not None else TeamObservation()
        self._fused_observation = engine_built(self.observation_fn)
        self.reward_fn: RewardFn = reward if reward is not None else goal_reward
        if isinstance(kickoff, str):
            if kickoff != "auto":
                raise ValueError(f"kickoff must be a callable, None or 'auto', not {kickoff!r}")
            kickoff = OpenKickoff() if flag == FLAG_BLUE else None
        self.kickoff_fn: KickoffFn | None = kickoff
        self.opponent = opponent
        kick = KICK_REARM if rearm_kick else KICK_PRESS
        self._writer = ActionWriter(self.view, kick)
        self._opponent_writer = ActionWriter(self.opponent_view, kick)
        self._actions = np.zeros((self.num_envs, self.n_players, 3), dtype=np.int64)

        self.single_action_space = spaces.MultiDiscrete(np.tile(PLAYER_ACTION, self.view.n_own))
        self.action_space = batch_space(self.single_action_space, self.num_envs)
        self.match_state = State.read(self.core)
        if observation_space is None:
            observation_space = infer_observation_space(self.observation_fn, self.view, self.match_state)
        self.single_observation_space = observation_space
        self.observation_space = batch_space(self.single_observation_space, self.num_envs)
        self._obs_shape = (self.num_envs, *(self.single_observation_space.shape or ()))
        self._pending = np.zeros(self.num_envs, dtype=bool)
        self._any_pending = False
        #: Return so far of every environment's current episode.
        self.episode_return = np.zeros(self.num_envs)
        # Lengths are counted as steps since each episode began: no pass per step.
        self._steps_taken = 0
        self._episode_start = np.zeros(self.num_envs, dtype=np.int64)
        self._renderer: Any = None
        # Opened now, so that a missing display fails here rather than mid-episode.
        self._window = HumanWindow(fps=self.metadata["render_fps"]) if render_mode == "human" else None

    # -- episode control -------------------------------------------------
    def reset(self, *, seed: int | None = None,
              options: dict[str, Any] | None = None) -> tuple[np.ndarray, dict[str, Any]]:
        """Reset every environment, or those of ``options["reset_mask"]``.

        ``seed`` keys the streams of every random part (kickoffs, an opponent
        that takes them, ``np_random``) and counts episodes from 0 again;
        without it the streams go on. Returns the ``(num_envs, D)``
        observations and an empty info dict.
        """
        super().reset(seed=seed)
        if seed is not None or self.streams.key is None:
            self.streams.seed(seed)
        mask = None if options is None else options.get("reset_mask")
        if mask is None:
            self.core.reset_all()
            mask = np.ones(self.num_envs, dtype=bool)
        else:
            mask = np.asarray(mask)
            if mask.dtype != np.bool_ or mask.shape != (self.num_envs,):
                raise ValueError(f"reset_mask must be a bool array of shape ({self.num_envs},)")
            self.core.reset_mask(mask)
        self._begin_episodes(mask)
        self._pending &= ~mask
        self._any_pending = bool(np.count_nonzero(self._pending))
        self.match_state = State.read(self.core)
        if self._window is not None:
            self._window.show(self.render_env(0))
        return self._observe(self.view, self.match_state), {}

    def step(self, actions: Any) -> tuple[np.ndarray, np.ndarray, np.ndarray, np.ndarray, dict[str, Any]]:
        """Advance every match by ``tick_skip`` physics ticks.

        ``actions`` is ``(num_envs, 3k)`` digits of ``single_action_space``;
        another shape or a digit outside the space raises ``ValueError``
        before anything moves. Returns ``(obs, reward, terminated,
        truncated, info)``: ``(num_envs, D)`` observations, ``float64``
        rewards and ``bool`` flags, the arrays new on every call.

        ``info`` is empty unless an episode ended. Then, as Gymnasium's
        vector environments batch the infos of single ones, it holds for the
        ended environments ``goal`` and ``conceded`` (the agent's team scored
        or conceded) and ``episode`` with ``r`` (return) and ``l`` (length in
        steps), each with a mask ``_goal``, ``_conceded``, ``_episode`` of the
        environments that have it (the others hold zeros). With same-step
        autoreset these sit in ``info["final_info"]`` (mask
        ``info["_final_info"]``) beside ``final_obs``/``_final_obs``.
        """
        prev = self.match_state
        self._writer.write(self._actions, actions)
        self._steps_taken += 1
        if self.opponent is not None:
            opp_obs = self.observation_fn(self.opponent_view, prev)
            if opp_obs.shape[0] != self.num_envs:
                raise ValueError(f"observation function returned {opp_obs.shape[0]} rows for the opponent, "
                                 f"expected {self.num_envs} (one row per environment)")
            opp_actions = self.opponent(opp_obs)
            try:
                self._opponent_writer.write(self._actions, opp_actions)
            except (TypeError, ValueError) as err:
                raise type(err)(f"opponent: {err}") from None
        pending = self._pending
        restarted = self._any_pending and self.autoreset_mode == AutoresetMode.NEXT_STEP
        scored, state, views = step_and_restart(self, (self.view,), pending, restarted)
        obs = None if views is None else views[0]

        terminated, truncated, any_goal = match_end_flags(scored, state.steps, self.step_limit)
        reward = np.asarray(self.reward_fn(self.view, prev, state, scored), dtype=np.float64)
        if reward.shape != terminated.shape:
            raise ValueError(f"reward function returned shape {reward.shape}, expected {terminated.shape}")
        if restarted:
            terminated[pending] = False
            truncated[pending] = False
            reward[pending] = 0.0
        self.episode_return += reward
        if obs is None:
            obs = self.observation_fn(self.view, state)
        if obs.shape != self._obs_shape:
            self._refuse_observation(obs)
        infos: dict[str, Any] = {}

        done = (terminated | truncated) if any_goal or restarted else truncated.copy()
        any_done = bool(np.count_nonzero(done))
        if any_done:
            ended = episode_info(done, scored, self.view.team, self.episode_return, self.episode_length)
            if self.autoreset_mode == AutoresetMode.SAME_STEP:
                infos = final_step_info(obs, done, ended)
                self.core.reset_mask(done)
                self._begin_episodes(done)
                state = State.read(self.core)
                obs = np.asarray(obs).copy()
                obs[done] = np.asarray(self._observe(self.view, state))[done]
            else:
                infos = ended
        if self.autoreset_mode == AutoresetMode.NEXT_STEP:
            self._pending, self._any_pending = done, any_done
        self.match_state = state
        if self._window is not None:
            self._window.show(self.render_env(0))
        return obs, reward, terminated, truncated, infos

    @property
    def episode_length(self) -> np.ndarray:
        """Steps so far of every environment's current episode."""
        return self._steps_taken - self._episode_start

    def _observe(self, view: View, state: State) -> np.ndarray:
        """``observation_fn``'s output, refused unless it has one row per environment."""
        obs = self.observation_fn(view, state)
        if obs.shape != self._obs_shape:
            self._refuse_observation(obs)
        return obs

    def _refuse_observation(self, obs: np.ndarray) -> None:
        raise ValueError(f"observation function returned shape {obs.shape}, expected {self._obs_shape} "
                         f"(one row per environment)")

    def _begin_episodes(self, mask: np.ndarray) -> None:
        """Hand the streams of the environments under ``mask``, just reset, to
        the kickoff and to an opponent that takes them (``restart``), and
        start their episode statistics afresh."""
        self.episode_return[mask] = 0.0
        self._episode_start[mask] = self._steps_taken
        rows, episodes = self.streams.begin(mask)
        if self.kickoff_fn is not None:
            rng = EnvRandom(self.streams, rows, episodes, KICKOFF, self.np_random)
            apply_kickoff(self.kickoff_fn, self.view, self.core, mask, rng)
        restart = getattr(self.opponent, "restart", None)
        if restart is not None:
            restart(mask, EnvRandom(self.streams, rows, episodes, OPPONENT, self.np_random))

    # -- rendering ---------------------------------------------------------
    def render(self) -> np.ndarray | None:  # type: ignore[override]
        """An RGB image ``(H, W, 3)`` of environment 0 (``render_mode="rgb_array"``);
        with ``"human"`` it is shown in the window (as every step does) instead."""
        if self.render_mode is None:
            gym.logger.warn("render() called without render_mode='rgb_array'")
            return None
        if self._window is not None:
            self._window.show(self.render_env(0))
            return None
        return self.render_env(0)

    def render_env(self, index: int = 0) -> np.ndarray:
        """An RGB image of environment ``index`` (kick rings only for environment 0)."""
        from .render import Renderer

        if self._renderer is None:
            self._renderer = Renderer(self.field)
        state = State.read(self.core)
        kicking = np.asarray(self.core.kick_state()[0]) > 0 if index == 0 else None
        return self._renderer.draw(state, self.core.teams()[0], index=index, kicking=kicking)

    def close_extras(self, **kwargs: Any) -> None:
        """Drop the renderer."""
        self._renderer = None
        if self._window is not None:
            self._window.close()
            self._window = None


class SingleEnv(gym.Env):
    """One match as a plain ``gymnasium.Env``, with the options of :class:`VectorEnv`.

    It runs a one-environment :class:`VectorEnv` without autoreset: call
    ``reset`` after an episode ends, as usual for single environments.
    """

    metadata: dict[str, Any] = {"render_modes": ["rgb_array", "human"], "render_fps": 60}

    def __init__(self, n_red: int = 1, n_blue: int = 1, *, render_mode: str | None = None,
                 **kwargs: Any) -> None:
        kwargs.pop("num_envs", None)
        kwargs["autoreset_mode"] = AutoresetMode.DISABLED
        self.vec = VectorEnv(1, n_red, n_blue, render_mode=render_mode, **kwargs)
        self.render_mode = render_mode
        self.metadata = {**type(self).metadata, "render_fps": self.vec.metadata["render_fps"]}
        self.observation_space = self.vec.single_observation_space
        self.action_space = self.vec.single_action_space

    def reset(self, *, seed: int | None = None,
              options: dict[str, Any] | None = None) -> tuple[np.ndarray, dict[str, Any]]:
        """Start a new episode; ``seed`` as for :meth:`VectorEnv.reset`."""
        obs, _ = self.vec.reset(seed=seed, options=options)
        self._np_random = self.vec.np_random
        self._np_random_seed = self.vec._np_random_seed
        return obs[0], {}

    def step(self, action: Any) -> tuple[np.ndarray, float, bool, bool, dict[str, Any]]:
        """One step of the match: ``(obs, reward, terminated, truncated, info)``.

        ``info`` is empty until the episode ends; then it holds ``goal``,
        ``conceded`` and ``episode`` (``r``: return, ``l``: length in steps).
        """
        obs, reward, terminated, truncated, info = self.vec.step(np.asarray(action)[None])
        return obs[0], float(reward[0]), bool(terminated[0]), bool(truncated[0]), unbatch_info(info, 0)

    def render(self) -> np.ndarray | None:
        """An RGB image ``(H, W, 3)`` of the match (``render_mode="rgb_array"``)."""
        return self.vec.render()

    def close(self) -> None:
        """Close the underlying :class:`VectorEnv`."""
        self.vec.close()
