"""Random streams of single environments, the same however a batch is split.

Every draw made for one environment comes from a Philox generator keyed by
the seed, with a counter naming the environment's global index, its episode
number and what the draws are for. Environment ``k`` therefore sees the same
numbers in a batch of 1024 as in the second of four batches of 256 built
with ``env_offset=256``, and nothing it draws depends on its neighbours.
"""

from __future__ import annotations

from functools import cached_property
from typing import Any, Callable

import numpy as np

#: What the draws are for: one stream each, so that adding draws to one use
#: never shifts another.
KICKOFF = 0
OPPONENT = 1


class EnvStreams:
    """Seed, global indices and episode counters of a batch's environments."""

    def __init__(self, num_envs: int, offset: int = 0) -> None:
        if offset < 0:
            raise ValueError(f"env_offset must be >= 0, not {offset}")
        self.index = np.arange(offset, offset + num_envs, dtype=np.uint64)
        #: Episodes each environment has begun since the last seeding.
        self.episode = np.zeros(num_envs, dtype=np.uint64)
        self.key: np.ndarray | None = None

    def seed(self, seed: int | None) -> None:
        """Key every stream by ``seed`` (fresh entropy for ``None``) and count episodes from 0."""
        # SeedSequence spreads small, similar seeds over the whole 128-bit key.
        self.key = np.random.SeedSequence(seed).generate_state(2, dtype=np.uint64)
        self.episode[:] = 0

    def begin(self, mask: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
        """Start a new episode in the environments under ``mask``: their
        positions in the batch and the numbers of the episodes begun."""
        if self.key is None:
            self.seed(None)
        rows = np.flatnonzero(mask)
        episodes = self.episode[rows].copy()
        self.episode[rows] += np.uint64(1)
        return rows, episodes

    def generator(self, row: int, episode: int, purpose: int) -> np.random.Generator:
        # The counter's lowest word is the one Philox advances while drawing;
        # the words above it name the stream.
        counter = np.array([0, purpose, episode, self.index[row]], dtype=np.uint64)
        return np.random.Generator(np.random.Philox(key=self.key, counter=counter))


class EnvRandom:
    """The streams of the environments that just began an episode, one
    ``Generator`` per environment in the order of ``np.flatnonzero(mask)``.

    Draw each environment's numbers from its own generator (``generators``,
    ``rows``, ``random``) so that they do not depend on how the batch is
    split. Any other attribute is that of ``batch``, one generator for the
    whole batch, which keeps callables written for a plain ``Generator``
    working, though their draws then depend on the split.
    """

    def __init__(self, streams: EnvStreams, rows: np.ndarray, episodes: np.ndarray, purpose: int,
                 batch: np.random.Generator) -> None:
        self._streams = streams
        self._rows = rows
        self._episodes = episodes
        self._purpose = purpose
        self.batch = batch

    @cached_property
    def generators(self) -> list[np.random.Generator]:
        # Built on first use: most kickoffs and policies never ask.
        s, p = self._streams, self._purpose
        return [s.generator(int(r), int(e), p) for r, e in zip(self._rows, self._episodes)]

    def rows(self, draw: Callable[[np.random.Generator], Any], shape: tuple[int, ...] = (),
             dtype: Any = np.float64) -> np.ndarray:
        """``draw(generator)`` of each environment, stacked: ``(n, *shape)``."""
        out = np.empty((len(self._rows), *shape), dtype=dtype)
        for i, g in enumerate(self.generators):
            out[i] = draw(g)
        return out

    def random(self, *shape: int) -> np.ndarray:
        """Uniform numbers in [0, 1), ``shape`` of them per environment: ``(n, *shape)``."""
        return self.rows(lambda g: g.random(shape), shape)

    def __len__(self) -> int:
        return len(self._rows)

    def __getattr__(self, name: str) -> Any:
        if name.startswith("_"):
            raise AttributeError(name)
        return getattr(self.batch, name)
