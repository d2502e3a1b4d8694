"""Simple batched policies: ``policy(obs (N, D)) -> actions (N, 3k)`` with the
(dx, dy, kick) digits of :class:`vexlo.VectorEnv`'s action space (dx, dy in
{0, 1, 2} for -1, 0, +1; kick in {0, 1})."""

from __future__ import annotations

import numpy as np

from .streams import EnvRandom


class RandomPolicy:
    """Uniformly random actions for ``n_players`` players.

    On its own it draws from one generator seeded by ``seed``. As the
    ``opponent`` of a :class:`vexlo.VectorEnv` it is told of every new
    episode (``restart``) and then draws each environment's actions from that
    environment's own stream, so ``reset(seed=...)`` reseeds it and its
    actions do not depend on how the batch is split.
    """

    #: Steps of actions drawn at once per environment: one generator call
    #: serves this many steps.
    CHUNK = 64

    def __init__(self, n_players: int = 1, seed: int | None = None) -> None:
        self.n_players = int(n_players)
        self.rng = np.random.default_rng(seed)
        self.high = np.tile([3, 3, 2], self.n_players)
        self._generators: list[np.random.Generator] | None = None
        self._drawn = np.empty((0, self.CHUNK, self.high.size), dtype=np.int8)
        self._cursor = np.zeros(0, dtype=np.int64)
        self._all_rows = np.arange(0)

    def restart(self, mask: np.ndarray, rng: EnvRandom) -> None:
        """The environments under ``mask`` began an episode; ``rng`` holds their streams."""
        n = mask.shape[0]
        if self._generators is None or len(self._generators) != n:
            self._generators = [self.rng] * n
            self._drawn = np.empty((n, self.CHUNK, self.high.size), dtype=np.int8)
            self._cursor = np.full(n, self.CHUNK, dtype=np.int64)
            self._all_rows = np.arange(n)
        rows = np.flatnonzero(mask)
        for row, g in zip(rows, rng.generators):
            self._generators[row] = g
        self._cursor[rows] = self.CHUNK  # drawn afresh on the next call

    def __call__(self, obs: np.ndarray) -> np.ndarray:
        n = obs.shape[0]
        if self._generators is None:
            return self.rng.integers(0, self.high, size=(n, self.high.size), dtype=np.int64)
        if n != len(self._generators):
            raise ValueError(f"RandomPolicy was restarted for {len(self._generators)} environments, "
                             f"not {n}")
        for row in np.flatnonzero(self._cursor >= self.CHUNK):
            self._drawn[row] = self._generators[row].integers(0, self.high, size=(self.CHUNK, self.high.size))
            self._cursor[row] = 0
        out = self._drawn[self._all_rows, self._cursor].astype(np.int64)
        self._cursor += 1
        return out


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
