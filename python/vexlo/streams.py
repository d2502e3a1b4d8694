"""Random streams of single environments, the same however a batch is split.

Every draw made for one environment comes from a Philox generator keyed by
the seed, with a counter naming the environment's global index, its episode
number and what the draws are for. Environment ``k`` therefore sees the same
numbers in a batch of 1024 as in the second of four batches of 256 built
with ``env_offset=256``, and nothing it draws depends on its neighbours.
"""

from __future__ import annotations

from functools import cached_property
from typing import Any

import numpy as np

#: What the draws are for: one stream each, so that adding draws to one use
#: never shifts another.
KICKOFF = 0
OPPONENT = 1
#: A part of a stream holds 2**40 Philox blocks, far more than a part draws.
_PART_SHIFT = 40


class EnvStreams:
    """Seed, global indices and episode counters of a batch's environments."""

    def __init__(self, num_envs: int, offset: int = 0) -> None:
        if offset < 0:
            raise ValueError(f"env_offset must be >= 0, not {offset}")
        self.index = np.arange(offset, offset + num_envs, dtype=np.uint64)
        #: Episodes each environment has begun since the last seeding.
        self.episode = np.zeros(num_envs, dtype=np.uint64)
        self.key: np.ndarray | None = None
        self._bits: np.random.Philox | None = None

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

    def generator(self, row: int, episode: int, purpose: int, part: int = 0) -> np.random.Generator:
        """The stream of environment ``row``'s episode, for ``purpose``, from ``part`` on."""
        return np.random.Generator(np.random.Philox(key=self.key, counter=self._counter(row, episode,
                                                                                       purpose, part)))

    def uniform(self, rows: np.ndarray, episodes: np.ndarray, purpose: int, parts: np.ndarray,
                count: int) -> np.ndarray:
        """``count`` uniform numbers in [0, 1) per environment, ``(len(rows), count)``:
        what ``generator(row, episode, purpose, part).random(count)`` gives."""
        out = np.empty((len(rows), count))
        if self._bits is None:
            self._bits = np.random.Philox()
            self._draw = np.random.Generator(self._bits)
            self._state: dict[str, Any] = dict(self._bits.state)
        # Building a Philox costs ten times more than rewinding one: one bit
        # generator is moved to each environment's stream in turn.
        state: Any = self._state
        state["state"]["key"] = self.key
        for i, (row, episode, part) in enumerate(zip(rows.tolist(), episodes.tolist(), parts.tolist())):
            state["state"]["counter"] = self._counter(row, episode, purpose, part)
            self._bits.state = state
            out[i] = self._draw.random(count)
        return out

    def _counter(self, row: int, episode: int, purpose: int, part: int) -> np.ndarray:
        # Philox advances the counter's lowest word while drawing; its high
        # bits number the parts, and the words above name the stream.
        return np.array([part << _PART_SHIFT, purpose, episode, self.index[row]], dtype=np.uint64)


class EnvRandom:
    """The streams of the environments that just began an episode, in the
    order of ``np.flatnonzero(mask)``.

    Draw each environment's numbers from its own stream (``random``,
    ``generators``) so that they do not depend on how the batch is split.
    Every call of ``random`` takes a fresh part of the streams; ``generators``
    are independent ``Generator`` objects, one per environment, slower to
    build. Any other attribute is that of ``batch``, one generator for the
    whole batch, which keeps callables written for a plain ``Generator``
    working, though their draws then depend on the split.
    """

    def __init__(self, streams: EnvStreams, rows: np.ndarray, episodes: np.ndarray, purpose: int,
                 batch: np.random.Generator) -> None:
        self.streams = streams
        self.rows = rows
        self.episodes = episodes
        self.purpose = purpose
        self.batch = batch
        self._parts = 0

    def random(self, *shape: int) -> np.ndarray:
        """Uniform numbers in [0, 1), ``shape`` of them per environment: ``(n, *shape)``."""
        self._parts += 1
        parts = np.full(len(self.rows), self._parts, dtype=np.int64)
        count = int(np.prod(shape, dtype=np.int64))
        flat = self.streams.uniform(self.rows, self.episodes, self.purpose, parts, count)
        return flat.reshape((len(self.rows), *shape))

    @cached_property
    def generators(self) -> list[np.random.Generator]:
        # Part 0 of every stream: ``random`` starts at part 1.
        s, p = self.streams, self.purpose
        return [s.generator(int(r), int(e), p) for r, e in zip(self.rows, self.episodes)]

    def __len__(self) -> int:
        return len(self.rows)

    def __getattr__(self, name: str) -> Any:
        if name.startswith("_"):
            raise AttributeError(name)
        return getattr(self.batch, name)
