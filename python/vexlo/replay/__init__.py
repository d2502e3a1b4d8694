"""Replay files: a recorded batch of matches that re-simulates bit for bit.

A :class:`Recorder` steps a ``vexlo_core.VecEnv`` (directly, or underneath a
:class:`vexlo.VectorEnv` through :meth:`Recorder.attach`) and keeps what the
engine needs to play the batch again: the stadium text, the team sizes and
settings, the starting state blob, every step's inputs, and a digest of the
whole batch after every step. Anything that changed the state between two
steps without stepping (a reset, a kickoff placement, ``set_state``, a new
kick rate limit) is seen as a digest that moved, and the changed environments
are kept as a state blob loaded before the next step.

:func:`load` reads a file back into a :class:`Replay`, whose ``verify()``
re-simulates it and names the first step whose digest differs. The layout is
described in ``docs/replay-format.md``; ``python -m vexlo.replay`` verifies
and draws files from the command line.
"""

from __future__ import annotations

import hashlib
import os
import zipfile
import zlib
from dataclasses import dataclass
from typing import Any, Iterator

import numpy as np
import vexlo_core

MAGIC = b"VEXLO-REPLAY"
VERSION = 1
#: Steps between the per-environment digests kept for locating a divergence.
CHECKPOINT_EVERY = 64


class ReplayError(ValueError):
    """A replay file that cannot be read: truncated, foreign, inconsistent or damaged."""


def batch_digest(digests: np.ndarray) -> int:
    """One word for a whole batch's ``VecEnv.digest()``: the first 8 bytes of
    BLAKE2b over the digests as little-endian words, read little-endian."""
    data = np.ascontiguousarray(digests, dtype="<u8").tobytes()
    return int.from_bytes(hashlib.blake2b(data, digest_size=8).digest(), "little")


def _settings(core: vexlo_core.VecEnv) -> tuple[str, np.ndarray]:
    # A pickle rebuilds the batch from these: the stadium text and
    # (n_envs, n_red, n_blue, step_limit, tick_skip).
    _, (text, *sizes), _ = core.__reduce__()
    return text, np.array(sizes, dtype=np.int64)


class Recorder:
    """Records the steps of one ``vexlo_core.VecEnv`` for a replay file.

    The batch's state when the recorder is made is the replay's start. Step
    the batch through :meth:`step` (or :meth:`attach` a ``VectorEnv``), then
    :meth:`save`. ``checkpoint_every`` sets how often the digests of every
    single environment are kept beside the per-step digest of the batch; they
    tell which environments diverged.
    """

    def __init__(self, core: vexlo_core.VecEnv, checkpoint_every: int = CHECKPOINT_EVERY) -> None:
        if int(checkpoint_every) < 1:
            raise ValueError(f"checkpoint_every must be >= 1, not {checkpoint_every}")
        self.core = core
        self.checkpoint_every = int(checkpoint_every)
        self.stadium, self.sizes = _settings(core)
        self.start = core.save_state()
        self._last = core.digest()
        self.actions: list[np.ndarray] = []
        self.step_digests: list[int] = []
        self.checkpoints: list[tuple[int, np.ndarray]] = []
        self.keyframes: list[tuple[int, np.ndarray, bytes]] = []

    def step(self, actions: np.ndarray) -> np.ndarray:
        """``core.physics_step(actions)``, recorded; returns its result."""
        now = self.core.digest()
        moved = now != self._last
        if moved.any():
            self.keyframes.append((len(self.actions), moved, self.core.save_state(moved)))
        scored = self.core.physics_step(actions)
        # Kept after the engine accepted them, so a refused call records nothing.
        self.actions.append(np.array(actions, dtype=np.int64, copy=True))
        self._last = self.core.digest()
        self.step_digests.append(batch_digest(self._last))
        if len(self.actions) % self.checkpoint_every == 0:
            self.checkpoints.append((len(self.actions), self._last.copy()))
        return scored

    @classmethod
    def attach(cls, env: Any, checkpoint_every: int = CHECKPOINT_EVERY) -> Recorder:
        """Record everything ``env`` (a :class:`vexlo.VectorEnv` or
        :class:`vexlo.ParallelEnv`) steps from now on: its ``core`` is replaced
        by a stand-in that steps through the recorder and passes every other
        call to the engine."""
        core = env.core
        while isinstance(core, _RecordingCore):
            core = core.recorder.core
        recorder = cls(core, checkpoint_every)
        env.core = _RecordingCore(recorder)
        return recorder

    def save(self, path: str | os.PathLike[str]) -> None:
        """Write the replay file (see ``docs/replay-format.md``)."""
        n, p = int(self.sizes[0]), int(self.sizes[1] + self.sizes[2])
        actions = np.stack(self.actions) if self.actions else np.zeros((0, n, p, 3), np.int64)
        if actions.size == 0 or (actions.min() >= -128 and actions.max() <= 127):
            actions = actions.astype(np.int8)
        checks = list(self.checkpoints)
        if self.actions and (not checks or checks[-1][0] != len(self.actions)):
            checks.append((len(self.actions), self._last))  # the end is always a checkpoint
        blobs = [blob for _, _, blob in self.keyframes]
        arrays = {
            "magic": np.frombuffer(MAGIC, np.uint8),
            "version": np.array([VERSION], np.int64),
            "stadium": np.frombuffer(self.stadium.encode("utf-8"), np.uint8),
            "sizes": self.sizes,
            "start": np.frombuffer(self.start, np.uint8),
            "actions": actions,
            "step_digests": np.array(self.step_digests, np.uint64),
            "checkpoint_steps": np.array([s for s, _ in checks], np.int64),
            "checkpoint_digests": np.array([d for _, d in checks], np.uint64).reshape(len(checks), n),
            "keyframe_steps": np.array([s for s, _, _ in self.keyframes], np.int64),
            "keyframe_masks": np.array([m for _, m, _ in self.keyframes], bool).reshape(-1, n),
            "keyframe_offsets": np.cumsum([0] + [len(b) for b in blobs], dtype=np.int64),
            "keyframe_blobs": np.frombuffer(b"".join(blobs), np.uint8),
        }
        with open(path, "wb") as fh:
            np.savez_compressed(fh, **arrays)  # type: ignore[arg-type]


class _RecordingCore:
    """Stands in for a ``VecEnv`` inside an environment: steps are recorded."""

    def __init__(self, recorder: Recorder) -> None:
        self.recorder = recorder
        self.physics_step = recorder.step

    def step_observe(self, actions: np.ndarray, restart: np.ndarray | None, frames: Any,
                     offsets: Any) -> tuple[Any, ...]:
        """The engine's ``step_observe`` as its parts, so that the step is
        recorded alone and the restarts show up as changes between steps."""
        core = self.recorder.core
        scored = self.recorder.step(actions)
        if restart is not None:
            core.reset_mask(restart)
        state = core.snapshot()
        ball_pos, ball_vel, player_pos, player_vel, _ = state
        obs = np.stack([core.team_observation(ball_pos, ball_vel, player_pos, player_vel, slots, pos_mul,
                                              vel_mul, pos_off, opp_goal, mirror, offsets)
                        for slots, pos_mul, vel_mul, pos_off, opp_goal, mirror in frames])
        return (scored, *state, obs)

    def __getattr__(self, name: str) -> Any:
        return getattr(self.recorder.core, name)


@dataclass(frozen=True)
class Divergence:
    """Where a re-simulation first left the recording.

    ``step`` counts recorded steps from 0: the first whose batch digest
    differs. ``envs`` are the environments whose digests differ at the first
    per-environment checkpoint from that step on (empty when none does: only
    the recorded batch digest was wrong), and ``tick`` is the first of them's
    physics tick counter after that step, as re-simulated (-1 when unknown).
    """

    step: int
    envs: tuple[int, ...]
    tick: int

    def __str__(self) -> str:
        if not self.envs:
            return f"diverged at step {self.step} (the batch digest; no environment's checkpoint differs)"
        where = f"environment {self.envs[0]}" if len(self.envs) == 1 else \
            f"environments {list(self.envs[:10])}" + (" ..." if len(self.envs) > 10 else "")
        return f"diverged at step {self.step} ({where}; physics tick {self.tick} of its match)"


@dataclass(frozen=True)
class Replay:
    """A replay file's contents; :func:`load` reads and checks one."""

    stadium: str
    n_envs: int
    n_red: int
    n_blue: int
    step_limit: int
    tick_skip: int
    start: bytes
    actions: np.ndarray
    step_digests: np.ndarray
    checkpoint_steps: np.ndarray
    checkpoint_digests: np.ndarray
    keyframes: tuple[tuple[int, np.ndarray, bytes], ...]

    @property
    def n_steps(self) -> int:
        return int(self.actions.shape[0])

    def make_core(self) -> vexlo_core.VecEnv:
        """A batch of the recorded stadium and sizes, in the recorded start state."""
        try:
            core = vexlo_core.VecEnv.from_vxs(self.stadium, self.n_envs, self.n_red, self.n_blue,
                                              step_limit=self.step_limit, tick_skip=self.tick_skip)
        except ValueError as err:
            raise ReplayError(f"the recorded stadium or sizes are refused: {err}") from None
        self._load(core, self.start, None, "the start state")
        return core

    def simulate(self) -> Iterator[tuple[vexlo_core.VecEnv, np.ndarray]]:
        """Re-simulate: yields the batch and the result of ``physics_step``
        after every recorded step (the same batch object each time)."""
        core = self.make_core()
        frames = iter(self.keyframes)
        pending = next(frames, None)
        for t in range(self.n_steps):
            while pending is not None and pending[0] == t:
                self._load(core, pending[2], pending[1], f"the state loaded before step {t}")
                pending = next(frames, None)
            yield core, core.physics_step(self.actions[t])

    def verify(self) -> Divergence | None:
        """Re-simulate and compare every step's digest: ``None`` when all
        match, else where the first one differs."""
        checks = {s: i for i, s in enumerate(self.checkpoint_steps.tolist())}
        first: tuple[int, np.ndarray] | None = None  # the step, and the tick counters after it
        for t, (core, _) in enumerate(self.simulate()):
            digests = core.digest()
            if first is None and batch_digest(digests) != int(self.step_digests[t]):
                first = (t, core.snapshot()[4])
            i = checks.get(t + 1)
            if i is not None:
                wrong = np.flatnonzero(digests != self.checkpoint_digests[i])
                if wrong.size:
                    # Without a batch digest that differs, the checkpoint was changed.
                    step, ticks = first if first is not None else (t, core.snapshot()[4])
                    return Divergence(step, tuple(wrong.tolist()), int(ticks[wrong[0]]))
        return None if first is None else Divergence(first[0], (), -1)

    @staticmethod
    def _load(core: vexlo_core.VecEnv, blob: bytes, mask: np.ndarray | None, what: str) -> None:
        try:
            core.load_state(blob, mask)
        except ValueError as err:
            raise ReplayError(f"{what} is refused: {err}") from None


def _member(data: Any, key: str, dtype: str, ndim: int) -> np.ndarray:
    try:
        value = data[key]
    except KeyError:
        raise ReplayError(f"not a replay file: no '{key}'") from None
    except (zipfile.BadZipFile, zlib.error, EOFError, OSError, ValueError) as err:
        raise ReplayError(f"damaged replay file: '{key}' cannot be read ({err})") from None
    if value.dtype.kind != dtype or value.ndim != ndim:
        raise ReplayError(f"'{key}' must be a {ndim}-dimensional array of kind '{dtype}', "
                          f"not {value.ndim}-dimensional {value.dtype}")
    return np.asarray(value)


def load(path: str | os.PathLike[str]) -> Replay:
    """Read and check a replay file; ``ReplayError`` (a ``ValueError``) says
    what is wrong with a file that is not a whole, consistent replay. The
    engine checks the state blobs and the stadium when they are used."""
    try:
        data = np.load(path, allow_pickle=False)
    except (zipfile.BadZipFile, EOFError, ValueError, OSError) as err:
        if isinstance(err, FileNotFoundError):
            raise
        raise ReplayError(f"not a replay file (or a truncated one): {err}") from None
    if not isinstance(data, np.lib.npyio.NpzFile):
        raise ReplayError("not a replay file: a single array, not an archive")
    with data:
        magic = _member(data, "magic", "u", 1).tobytes()
        if magic != MAGIC:
            raise ReplayError(f"not a replay file: magic {magic[:16]!r}, expected {MAGIC!r}")
        version = _member(data, "version", "i", 1)
        if version.tolist() != [VERSION]:
            raise ReplayError(f"replay format version {version.tolist()} is not supported (this reads {VERSION})")
        sizes = _member(data, "sizes", "i", 1)
        if sizes.shape != (5,) or (sizes < 0).any():
            raise ReplayError(f"'sizes' must be 5 non-negative numbers, not {sizes.tolist()}")
        n, n_red, n_blue, step_limit, tick_skip = (int(v) for v in sizes)
        p = n_red + n_blue
        try:
            stadium = _member(data, "stadium", "u", 1).tobytes().decode("utf-8")
        except UnicodeDecodeError as err:
            raise ReplayError(f"the stadium text is not UTF-8: {err}") from None
        actions = _member(data, "actions", "i", 4)
        steps = actions.shape[0]
        expect = {
            "actions": (actions, (steps, n, p, 3)),
            "step_digests": (_member(data, "step_digests", "u", 1), (steps,)),
        }
        check_steps = _member(data, "checkpoint_steps", "i", 1)
        checks = len(check_steps)
        expect["checkpoint_digests"] = (_member(data, "checkpoint_digests", "u", 2), (checks, n))
        key_steps = _member(data, "keyframe_steps", "i", 1)
        k = len(key_steps)
        expect["keyframe_masks"] = (_member(data, "keyframe_masks", "b", 2), (k, n))
        expect["keyframe_offsets"] = (_member(data, "keyframe_offsets", "i", 1), (k + 1,))
        for key, (value, shape) in expect.items():
            if value.shape != shape:
                raise ReplayError(f"'{key}' has shape {value.shape}, expected {shape} "
                                  f"for {steps} steps of {n} environments with {p} players")
        if ((check_steps < 1) | (check_steps > steps)).any() or (np.diff(check_steps) <= 0).any():
            raise ReplayError(f"'checkpoint_steps' must rise within 1..{steps}: {check_steps.tolist()[:10]}")
        if ((key_steps < 0) | (key_steps >= max(steps, 1))).any() or (np.diff(key_steps) < 0).any():
            raise ReplayError(f"'keyframe_steps' must be in order within 0..{steps - 1}: {key_steps.tolist()[:10]}")
        offsets = expect["keyframe_offsets"][0]
        blobs = _member(data, "keyframe_blobs", "u", 1).tobytes()
        if offsets[0] != 0 or (np.diff(offsets) < 0).any() or offsets[-1] != len(blobs):
            raise ReplayError(f"'keyframe_offsets' must rise from 0 to the {len(blobs)} bytes of 'keyframe_blobs'")
        start = _member(data, "start", "u", 1).tobytes()
        # Checked before a batch of the recorded size is built for it.
        held = int.from_bytes(start[32:40], "little") if len(start) >= 48 else None
        if held != n:
            raise ReplayError(f"the start state holds {held} environments, not the {n} of 'sizes'")
        masks = expect["keyframe_masks"][0]
        keyframes = tuple((int(key_steps[i]), masks[i].copy(), blobs[offsets[i]:offsets[i + 1]])
                          for i in range(k))
        return Replay(stadium, n, n_red, n_blue, step_limit, tick_skip,
                      start, actions.astype(np.int64),
                      expect["step_digests"][0], check_steps, expect["checkpoint_digests"][0], keyframes)


__all__ = ["Divergence", "Recorder", "Replay", "ReplayError", "batch_digest", "load"]
