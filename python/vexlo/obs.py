"""Team views and the default observation builder.

A :class:`View` is one team's way of looking at a batch: the field mirrored so
that the team's own goal is on the left (negative x) and at the origin, lengths
divided by half the distance between the goals, and the players listed with the
team's own first. Red and blue therefore see a mirrored situation identically,
which is what lets one policy play either side.
"""

from __future__ import annotations

import threading
from dataclasses import dataclass
from typing import Sequence

import numpy as np
import vexlo_core

from .field import FLAG_BLUE, FLAG_RED, Field
from .state import State

#: Velocities (units per tick) are multiplied by this in observations.
VEL_SCALE = 0.2
#: Bound declared for the default observation space (values stay far inside).
OBS_BOUND = 1000.0


def team_flag(team: int | str) -> int:
    """``"red"``/``"blue"`` or a team flag, as the flag."""
    if isinstance(team, str):
        names = {"red": FLAG_RED, "blue": FLAG_BLUE}
        if team.lower() not in names:
            raise ValueError(f"team must be 'red' or 'blue', not {team!r}")
        return names[team.lower()]
    if int(team) not in (FLAG_RED, FLAG_BLUE):
        raise ValueError(f"team must be FLAG_RED ({FLAG_RED}) or FLAG_BLUE ({FLAG_BLUE}), not {team!r}")
    return int(team)


@dataclass(frozen=True, eq=False)
class View:
    """One team's frame of reference over a batch of matches.

    ``slots`` lists every player slot in view order: the viewing player
    (``slots[0]``), its teammates in slot order, then the opponents in slot
    order; ``n_own`` of them belong to ``team``. A position ``p`` (engine frame)
    appears as ``p * pos_mul - pos_off`` and a velocity ``v`` as ``v * vel_mul``.
    ``sign`` is -1 when the view mirrors x (its own goal lies at positive x).
    """

    core: vexlo_core.VecEnv
    field: Field
    team: int
    slots: np.ndarray
    n_own: int
    sign: float
    scale: float
    pos_mul: np.ndarray
    pos_off: np.ndarray
    vel_mul: np.ndarray
    own_goal: np.ndarray
    opp_goal: np.ndarray
    tick_skip: int
    step_limit: int

    @classmethod
    def of(cls, core: vexlo_core.VecEnv, field: Field, team: int | str,
           self_slot: int | None = None, *, tick_skip: int = 8, step_limit: int = 2400,
           vel_scale: float = VEL_SCALE) -> View:
        team = team_flag(team)
        teams = np.asarray(core.teams())[0]
        own = np.flatnonzero(teams == team)
        others = np.flatnonzero(teams != team)
        if self_slot is not None:
            if self_slot not in own:
                raise ValueError(f"slot {self_slot} does not play for team {team}")
            own = np.concatenate([[self_slot], own[own != self_slot]])
        opponent = FLAG_BLUE if team == FLAG_RED else FLAG_RED
        own_c = field.goal_centre(team)
        opp_c = field.goal_centre(opponent)
        sign = -1.0 if own_c[0] > opp_c[0] else 1.0
        half = float(abs(opp_c[0] - own_c[0])) * 0.5
        scale = 1.0 / half if half > 0 else 1.0 / 370.0
        pos_mul = np.array([sign * scale, scale])
        pos_off = np.array([sign * own_c[0] * scale, own_c[1] * scale])
        return cls(
            core=core, field=field, team=team,
            slots=np.concatenate([own, others]).astype(np.intp), n_own=len(own),
            sign=sign, scale=scale, pos_mul=pos_mul, pos_off=pos_off,
            vel_mul=np.array([sign * vel_scale, vel_scale]),
            own_goal=own_c * pos_mul - pos_off, opp_goal=opp_c * pos_mul - pos_off,
            tick_skip=int(tick_skip), step_limit=int(step_limit),
        )

    @property
    def opponent(self) -> int:
        """The other team's flag."""
        return FLAG_BLUE if self.team == FLAG_RED else FLAG_RED

    @property
    def own_slots(self) -> np.ndarray:
        return self.slots[: self.n_own]

    @property
    def n_players(self) -> int:
        return len(self.slots)

    def pos(self, xy: np.ndarray) -> np.ndarray:
        """Engine-frame positions ``(..., 2)`` in this view."""
        return xy * self.pos_mul - self.pos_off

    def vel(self, v: np.ndarray) -> np.ndarray:
        """Engine-frame velocities ``(..., 2)`` in this view."""
        return v * self.vel_mul

    def to_engine(self, xy: np.ndarray) -> np.ndarray:
        """Positions of this view back in the engine frame."""
        return (xy + self.pos_off) / self.pos_mul


def _pairs(a: np.ndarray) -> np.ndarray:
    """``(..., 2)`` float64 pairs as ``(...)`` complex numbers (a view when possible)."""
    if a.dtype != np.float64 or a.strides[-1] != a.itemsize:
        a = np.ascontiguousarray(a, dtype=np.float64)
    return a.view(np.complex128)[..., 0]


@dataclass(frozen=True, eq=False)
class _ComplexMap:
    """A :class:`View`'s affine map on complex pairs ``x + iy``.

    A mirroring view maps ``x + iy`` to ``conj(z * mul - off)``: the final
    conjugation flips the sign of every y back, so each value comes out with
    the same bits as ``xy * view.pos_mul - view.pos_off``.
    """

    view: View
    slots: tuple[int, ...]
    mirror: bool
    pos_mul: np.complex128  # real factors, kept complex so that NumPy need not convert them
    vel_mul: np.complex128
    pos_off: np.complex128
    opp_goal: np.complex128
    engine_frame: tuple[tuple[int, ...], float, float, tuple[float, float], tuple[float, float], bool]

    @classmethod
    def of(cls, view: View) -> _ComplexMap:
        mirror = view.sign < 0
        flip = -1.0 if mirror else 1.0  # conjugation undoes this on y
        off = complex(view.pos_off[0], flip * view.pos_off[1])
        goal = complex(view.opp_goal[0], flip * view.opp_goal[1])
        slots = tuple(int(s) for s in view.slots)
        pos_mul, vel_mul = float(view.pos_mul[0]), float(view.vel_mul[0])
        # The same numbers as the engine's team_observation and step_observe take them.
        engine_frame = (slots, pos_mul, vel_mul, (off.real, off.imag), (goal.real, goal.imag), mirror)
        return cls(view=view, slots=slots, mirror=mirror,
                   pos_mul=np.complex128(pos_mul), vel_mul=np.complex128(vel_mul),
                   pos_off=np.complex128(off), opp_goal=np.complex128(goal), engine_frame=engine_frame)


def obs_size(n_players: int, n_lookahead: int) -> int:
    """Length of a :class:`TeamObservation` vector."""
    return 4 * n_players + 8 + 2 * n_lookahead


class TeamObservation:
    """Default observation: the whole match in the viewing team's frame, float32.

    With P players and K lookahead offsets the vector has ``4P + 8 + 2K`` entries:

    ====================  =========================================================
    ``[0:2]``             ball position (own goal centre at the origin)
    ``[2:4]``             ball velocity
    ``[4 + 4i : 8 + 4i]`` player ``i`` in view order (self, teammates, opponents):
                          position x, y, velocity x, y
    ``[4P+4 : 4P+6]``     ball minus the viewing player's position
    ``[4P+6 : 4P+8]``     opponent goal centre minus ball position
    ``[4P+8 : ]``         ball position ``t`` ticks ahead for each lookahead
                          offset ``t`` (module prediction: exact until a player
                          touches the ball), x then y per offset
    ====================  =========================================================

    The first ``4P + 8`` entries match the module's ``obs_dim``. The lookahead
    asks the engine about its current balls, so ``state`` must be the engine's
    current state (as it is for every call the environments make).

    The engine builds the whole array in one call (``VecEnv.team_observation``)
    with the same bits as the NumPy passes it replaces; those still serve
    states the engine call does not take (other dtypes or batch sizes).
    """

    def __init__(self, lookahead: Sequence[int] = (8,)) -> None:
        offsets = [int(t) for t in lookahead]
        if any(t < 1 for t in offsets) or offsets != sorted(offsets):
            raise ValueError("lookahead offsets must be ascending tick counts >= 1")
        self.lookahead = tuple(offsets)
        self._offsets = np.array(offsets, dtype=np.int64)
        self._cached: tuple[State, vexlo_core.VecEnv, np.ndarray] | None = None
        self._maps: dict[int, _ComplexMap] = {}
        self._scratch = threading.local()

    def size(self, n_players: int) -> int:
        return obs_size(n_players, len(self.lookahead))

    def __call__(self, view: View, state: State) -> np.ndarray:
        m = self._map(view)
        try:
            return view.core.team_observation(state.ball_pos, state.ball_vel, state.player_pos,
                                              state.player_vel, *m.engine_frame, self.lookahead)
        except (TypeError, ValueError):
            # Arrays the engine does not read in place (another dtype, another
            # batch size): the NumPy passes take them, or raise what they do.
            return self._numpy_observation(view, state)

    def step_observed(self, core: vexlo_core.VecEnv, views: Sequence[View], actions: np.ndarray,
                      restart: np.ndarray | None) -> tuple[np.ndarray, State, np.ndarray]:
        """``core.physics_step(actions)``, then ``core.reset_mask(restart)``
        when given, then the state and each view's observation of it:
        ``(scored, state, obs)`` with ``obs`` ``(len(views), N, D)``, from one
        engine call that reads each environment once and predicts the ball
        once for every view (the same bits as those calls one after the
        other). The views must see equally many players."""
        frames = [self._map(view).engine_frame for view in views]
        scored, *state, obs = core.step_observe(actions, restart, frames, self.lookahead)
        return scored, State(*state), obs

    def _numpy_observation(self, view: View, state: State) -> np.ndarray:
        """The observation by NumPy passes, bit for bit the engine's."""
        # Every (x, y) pair is handled as one complex number, so that each
        # column of the observation is a single pass over a 1-D array: NumPy
        # is slow on many short rows, fast on a few long columns.
        n = state.ball_pos.shape[0]
        p = view.n_players
        m = self._map(view)
        # The engine first: NumPy's own code and data then stay in the cache
        # for every pass below.
        ahead = _pairs(self._lookahead(view, state)) if self.lookahead else None
        work = self._work(n, p + p + 4 + len(self.lookahead))
        ball = work[:, 0]
        np.multiply(_pairs(state.ball_pos), m.pos_mul, out=ball)
        np.subtract(ball, m.pos_off, out=ball)
        np.multiply(_pairs(state.ball_vel), m.vel_mul, out=work[:, 1])
        players, velocities = _pairs(state.player_pos), _pairs(state.player_vel)
        for i, slot in enumerate(m.slots):
            col = work[:, 2 + 2 * i]
            np.multiply(players[:, slot], m.pos_mul, out=col)
            np.subtract(col, m.pos_off, out=col)
            np.multiply(velocities[:, slot], m.vel_mul, out=work[:, 3 + 2 * i])
        end = 2 + 2 * p
        np.subtract(ball, work[:, 2], out=work[:, end])
        np.subtract(m.opp_goal, ball, out=work[:, end + 1])
        if ahead is not None:
            cols = work[:, end + 2:]
            np.multiply(ahead, m.pos_mul, out=cols)
            np.subtract(cols, m.pos_off, out=cols)
        out = np.empty((n, 2 * work.shape[1]), dtype=np.float32)
        if m.mirror:
            np.conjugate(work, out=out.view(np.complex64))
        else:
            np.copyto(out.view(np.complex64), work, casting="same_kind")
        return out

    def _map(self, view: View) -> _ComplexMap:
        key = id(view)
        cached = self._maps.get(key)
        if cached is None or cached.view is not view:
            cached = self._maps[key] = _ComplexMap.of(view)
        return cached

    def _work(self, n: int, columns: int) -> np.ndarray:
        """Per-thread scratch of ``n`` rows of complex columns, reused between calls."""
        work = getattr(self._scratch, "work", None)
        if work is None or work.shape != (n, columns):
            work = self._scratch.work = np.empty((n, columns), dtype=np.complex128)
        return work

    def _lookahead(self, view: View, state: State) -> np.ndarray:
        # Both teams' observations of one state share one prediction.
        if self._cached is not None and self._cached[0] is state and self._cached[1] is view.core:
            return self._cached[2]
        ahead = view.core.predict_ball(self._offsets)
        self._cached = (state, view.core, ahead)
        return ahead
