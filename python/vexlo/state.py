"""Batched match state as handed out by ``VecEnv.snapshot``."""

from __future__ import annotations

from typing import NamedTuple

import numpy as np
import vexlo_core


class State(NamedTuple):
    """Positions, velocities and tick counters of every environment, in the engine frame.

    ``ball_pos``/``ball_vel`` are ``(N, 2)``, ``player_pos``/``player_vel`` are
    ``(N, P, 2)`` (``float64``) and ``steps`` is ``(N,)`` ``int64``: the physics
    ticks since the environment's last reset.
    """

    ball_pos: np.ndarray
    ball_vel: np.ndarray
    player_pos: np.ndarray
    player_vel: np.ndarray
    steps: np.ndarray

    @classmethod
    def read(cls, core: vexlo_core.VecEnv) -> State:
        """The current state of every environment of ``core``."""
        return cls(*core.snapshot())

    def write(self, core: vexlo_core.VecEnv, steps: np.ndarray | None = None) -> None:
        """Place this state into every environment of ``core``.

        ``steps`` overrides the tick counters written (default: this state's own).
        """
        core.set_state(
            np.ascontiguousarray(self.ball_pos, dtype=np.float64),
            np.ascontiguousarray(self.ball_vel, dtype=np.float64),
            np.ascontiguousarray(self.player_pos, dtype=np.float64),
            np.ascontiguousarray(self.player_vel, dtype=np.float64),
            np.ascontiguousarray(self.steps if steps is None else steps, dtype=np.int64),
        )

    def copy(self) -> State:
        return State(*(np.array(a, copy=True) for a in self))

    def take(self, index: int | slice | np.ndarray) -> State:
        """The rows of the selected environments, as a new batch.

        Indices follow NumPy: an int keeps one row (as a batch of one) and
        counts from the end when negative, slices and index or bool arrays
        select as they do on an array; an index out of range raises
        ``IndexError``.
        """
        # A one-element list keeps the batch axis, and NumPy checks its range.
        rows = [int(index)] if isinstance(index, (int, np.integer)) else index
        return State(*(np.array(a[rows], copy=True) for a in self))

    @property
    def n_envs(self) -> int:
        return int(self.ball_pos.shape[0])

    @property
    def n_players(self) -> int:
        return int(self.player_pos.shape[1])
