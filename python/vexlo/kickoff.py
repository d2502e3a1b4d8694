"""Kickoff placement: ``kickoff(view, state, mask, rng) -> State | None``.

Called after the selected environments (``mask``) were reset to the stadium's
kickoff; ``state`` is the snapshot of the whole batch at that moment. Return
the state to place into the batch (only the rows under ``mask`` should differ)
or ``None`` to keep the regular kickoff. ``rng`` is a
:class:`vexlo.streams.EnvRandom`: one generator per reset environment, so that
a start does not depend on how the batch is split.
"""

from __future__ import annotations

import numpy as np

from .obs import View
from .state import State
from .streams import EnvRandom

#: Space left between a placed player and the ball, besides their radii.
_MARGIN = 2.0
#: Fresh places drawn for players that landed on the ball.
_RETRIES = 8


class RandomKickoff:
    """Start episodes from random positions instead of the fixed kickoff.

    With probability ``probability`` per reset environment, the ball is put
    uniformly in the central ``ball_area`` fraction of the pitch with a random
    velocity of up to ``ball_speed`` units per tick, and every player uniformly
    in the ``player_area`` fraction, at least a ball-plus-player radius from the
    ball. The rest keep the regular kickoff.

    Placing a state goes through ``VecEnv.set_state``, which writes every
    environment of the batch: it also clears the kick state of environments
    not being reset. With the default kick rate limit and re-arming kicks that
    can only let a player kick one tick earlier right after a kick on the last
    tick of a step; with ``rearm_kick=False`` a held kick is re-armed as well.
    """

    def __init__(self, probability: float = 1.0, ball_area: float = 0.8,
                 player_area: float = 0.9, ball_speed: float = 0.0) -> None:
        self.probability = float(probability)
        self.ball_area = float(ball_area)
        self.player_area = float(player_area)
        self.ball_speed = float(ball_speed)

    def __call__(self, view: View, state: State, mask: np.ndarray,
                 rng: EnvRandom | np.random.Generator) -> State | None:
        p = state.n_players
        # Every reset environment draws one fixed-size block from its own
        # stream, whether it is chosen or not and however often its players
        # are moved off the ball, so its start never depends on the others.
        size = 5 + 2 * p * (1 + _RETRIES)
        if isinstance(rng, EnvRandom):
            block = rng.random(size)
        else:  # a plain Generator, as kickoffs were once given
            block = rng.random((int(np.count_nonzero(mask)), size))
        chosen_rows = block[:, 0] < self.probability
        n = int(np.count_nonzero(chosen_rows))
        if n == 0:
            return None
        chosen = np.zeros(mask.shape[0], dtype=bool)
        chosen[np.flatnonzero(mask)[chosen_rows]] = True
        draws = block[chosen_rows, 1:]
        if view.field.pitch is not None:
            half_w, half_h = view.field.pitch[0], view.field.pitch[1]
        else:
            x0, x1, y0, y1 = view.field.extent
            half_w, half_h = (x1 - x0) * 0.5, (y1 - y0) * 0.5
        half = np.array([half_w, half_h])
        clearance = view.field.ball_radius + view.field.player_radius + _MARGIN
        out = state.copy()
        ball = (draws[:, 0:2] * 2.0 - 1.0) * half * self.ball_area
        angle = draws[:, 2] * 2.0 * np.pi
        speed = draws[:, 3] * self.ball_speed
        tries = (draws[:, 4:].reshape(n, 1 + _RETRIES, p, 2) * 2.0 - 1.0) * half * self.player_area
        players = tries[:, 0].copy()
        # Move players that landed on the ball straight away from it.
        for attempt in range(1, 1 + _RETRIES):
            d = players - ball[:, None, :]
            dist = np.hypot(d[..., 0], d[..., 1])
            close = dist < clearance
            if not close.any():
                break
            players[close] = tries[:, attempt][close]
        out.ball_pos[chosen] = ball
        out.ball_vel[chosen] = np.stack([np.cos(angle), np.sin(angle)], axis=1) * speed[:, None]
        out.player_pos[chosen] = players
        out.player_vel[chosen] = 0.0
        return out


class OpenKickoff:
    """The regular kickoff places, without the kickoff barrier.

    A reset always gives red the kickoff, and until the ball moves only the
    kicking team may enter the centre circle. Writing the kickoff state back
    with ``set_state`` starts play at once, so either side may take the ball:
    the default for an agent playing blue against a still red team.
    """

    def __call__(self, view: View, state: State, mask: np.ndarray, rng: EnvRandom) -> State | None:
        return state if mask.any() else None
