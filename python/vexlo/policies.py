"""Simple batched policies: ``policy(obs (N, D)) -> actions (N, 3k)`` with the
(dx, dy, kick) digits of :class:`vexlo.VectorEnv`'s action space (dx, dy in
{0, 1, 2} for -1, 0, +1; kick in {0, 1})."""

from __future__ import annotations

import numpy as np


class RandomPolicy:
    """Uniformly random actions for ``n_players`` players."""

    def __init__(self, n_players: int = 1, seed: int | None = None) -> None:
        self.n_players = int(n_players)
        self.rng = np.random.default_rng(seed)

    def __call__(self, obs: np.ndarray) -> np.ndarray:
        high = np.tile([3, 3, 2], self.n_players)
        return self.rng.integers(0, high, size=(obs.shape[0], high.size), dtype=np.int64)


class ChaseBall:
    """Runs at the ball and kicks when close; reads a :class:`TeamObservation`.

    Controls the viewing player only (``n_players`` = 1 for the team size the
    policy drives; teammates stand still). ``n_total`` is the number of players
    in the match, which fixes where the ball-minus-self entries lie.
    """

    def __init__(self, n_total: int = 2, n_players: int = 1, kick_distance: float = 0.09,
                 dead_zone: float = 0.01) -> None:
        self.index = 4 * int(n_total) + 4
        self.n_players = int(n_players)
        self.kick_distance = float(kick_distance)
        self.dead_zone = float(dead_zone)

    def __call__(self, obs: np.ndarray) -> np.ndarray:
        rel = obs[:, self.index:self.index + 2]
        step = np.where(np.abs(rel) > self.dead_zone, np.sign(rel), 0.0).astype(np.int64) + 1
        out = np.zeros((obs.shape[0], 3 * self.n_players), dtype=np.int64)
        out[:, 3:] = 1  # teammates: no movement
        out[:, 2::3] = 0
        out[:, 0:2] = step
        out[:, 2] = np.hypot(rel[:, 0], rel[:, 1]) < self.kick_distance
        return out
