"""Simple batched policies: ``policy(obs (N, D)) -> actions (N, 3k)`` with the
(dx, dy, kick) digits of :class:`vexlo.VectorEnv`'s action space (dx, dy in
{0, 1, 2} for -1, 0, +1; kick in {0, 1})."""

from __future__ import annotations

import numpy as np

from .obs import obs_size
from .streams import EnvRandom, EnvStreams


class RandomPolicy:
    """Uniformly random actions for ``n_players`` players.

    On its own it draws from one generator seeded by ``seed``. As the
    ``opponent`` of a :class:`vexlo.VectorEnv` it is told of every new
    episode (``restart``) and then draws each environment's actions from that
    environment's own stream, so ``reset(seed=...)`` reseeds it and its
    actions do not depend on how the batch is split.
    """

    #: Steps of actions drawn at once per environment.
    CHUNK = 64

    def __init__(self, n_players: int = 1, seed: int | None = None) -> None:
        self.n_players = int(n_players)
        self.rng = np.random.default_rng(seed)
        self.high = np.tile([3, 3, 2], self.n_players)
        self._streams: EnvStreams | None = None
        self._purpose = 0
        self._episodes = np.zeros(0, dtype=np.uint64)
        self._chunks = np.zeros(0, dtype=np.int64)
        self._drawn = np.empty((0, self.CHUNK, self.high.size), dtype=np.int64)
        self._cursor = np.zeros(0, dtype=np.int64)
        self._all_rows = np.arange(0)

    def seed(self, seed: int | None = None) -> None:
        """Reseed the generator it draws from while no environment has bound
        it to its streams (``restart``); bound, ``reset(seed=...)`` reseeds it."""
        self.rng = np.random.default_rng(seed)

    def restart(self, mask: np.ndarray, rng: EnvRandom) -> None:
        """The environments under ``mask`` began an episode; ``rng`` holds their streams."""
        n = mask.shape[0]
        if len(self._cursor) != n:
            self._episodes = np.zeros(n, dtype=np.uint64)
            self._chunks = np.zeros(n, dtype=np.int64)
            self._drawn = np.empty((n, self.CHUNK, self.high.size), dtype=np.int64)
            self._cursor = np.full(n, self.CHUNK, dtype=np.int64)
            self._all_rows = np.arange(n)
        self._streams, self._purpose = rng.streams, rng.purpose
        self._episodes[rng.rows] = rng.episodes
        self._chunks[rng.rows] = 0
        self._cursor[rng.rows] = self.CHUNK  # drawn afresh on the next call

    def __call__(self, obs: np.ndarray) -> np.ndarray:
        if np.ndim(obs) < 1:
            raise ValueError(f"RandomPolicy takes a batch of observations (N, D), not shape {np.shape(obs)}")
        n = obs.shape[0]
        if self._streams is None:
            return self.rng.integers(0, self.high, size=(n, self.high.size), dtype=np.int64)
        if n != len(self._cursor):
            raise ValueError(f"RandomPolicy was restarted for {len(self._cursor)} environments, not {n}")
        empty = np.flatnonzero(self._cursor >= self.CHUNK)
        if empty.size:
            # Part k + 1 of an environment's stream holds its chunk k of actions.
            self._chunks[empty] += 1
            u = self._streams.uniform(empty, self._episodes[empty], self._purpose, self._chunks[empty],
                                      self.CHUNK * self.high.size)
            self._drawn[empty] = (u.reshape(-1, self.CHUNK, self.high.size) * self.high).astype(np.int64)
            self._cursor[empty] = 0
        out = self._drawn[self._all_rows, self._cursor]
        self._cursor += 1
        return out


class ChaseBall:
    """Runs at the ball and kicks when close; reads a :class:`TeamObservation`.

    ``n_total`` is the number of players in the whole match (2 in 1v1, 4 in
    2v2), which fixes where the ball-minus-self entries lie; ``n_players`` is
    the size of the team it drives: the viewing player chases, its teammates
    stand still. ``n_lookahead`` is the number of lookahead offsets of the
    observation (1 for the default ``TeamObservation()``). Observations of
    another width are refused with a ``ValueError`` saying what was expected,
    rather than read at the wrong columns.
    """

    def __init__(self, n_total: int = 2, n_players: int = 1, kick_distance: float = 0.09,
                 dead_zone: float = 0.01, n_lookahead: int = 1) -> None:
        self.n_total = int(n_total)
        self.n_players = int(n_players)
        self.n_lookahead = int(n_lookahead)
        if not 1 <= self.n_players <= self.n_total or self.n_lookahead < 0:
            raise ValueError(f"ChaseBall needs 1 <= n_players <= n_total and n_lookahead >= 0, not "
                             f"n_total={n_total}, n_players={n_players}, n_lookahead={n_lookahead}")
        self.index = 4 * self.n_total + 4
        self.width = obs_size(self.n_total, self.n_lookahead)
        self.kick_distance = float(kick_distance)
        self.dead_zone = float(dead_zone)

    def __call__(self, obs: np.ndarray) -> np.ndarray:
        if obs.ndim != 2 or obs.shape[1] != self.width:
            raise ValueError(
                f"ChaseBall(n_total={self.n_total}, n_lookahead={self.n_lookahead}) reads observations of "
                f"{self.width} entries (TeamObservation of {self.n_total} players and {self.n_lookahead} "
                f"lookahead offsets), got shape {obs.shape}: n_total counts every player of the match, "
                f"and 4 * n_total + 8 + 2 * n_lookahead must be the observation's width")
        rel = obs[:, self.index:self.index + 2]
        step = np.where(np.abs(rel) > self.dead_zone, np.sign(rel), 0.0).astype(np.int64) + 1
        out = np.zeros((obs.shape[0], 3 * self.n_players), dtype=np.int64)
        out[:, 3:] = 1  # teammates: no movement
        out[:, 2::3] = 0
        out[:, 0:2] = step
        out[:, 2] = np.hypot(rel[:, 0], rel[:, 1]) < self.kick_distance
        return out
