"""A batched MLP policy that samples each environment's actions from that
environment's own random stream, so a row's action does not depend on which
shard, or which position in a batch, the environment has."""

from __future__ import annotations

from typing import Dict, Sequence, Tuple

import numpy as np

from ..env import PLAYER_ACTION

Weights = Dict[str, np.ndarray]

#: Matrix products go by blocks of this many rows (the last one padded), so
#: every row goes through a product of the same shape whatever the batch size:
#: BLAS picks kernels, and threads, by shape, and a kernel for a ragged tail
#: may sum in another order and round differently. Blocks this small also
#: stay under OpenBLAS's threading threshold: its threads would otherwise
#: spin against the engine's workers.
ROW_BLOCK = 32

_GOLDEN = np.uint64(0x9E3779B97F4A7C15)


def _mix(z: np.ndarray) -> np.ndarray:
    """SplitMix64's finaliser: a bijection of uint64 that scrambles every bit."""
    z = (z ^ (z >> np.uint64(30))) * np.uint64(0xBF58476D1CE4E5B9)
    z = (z ^ (z >> np.uint64(27))) * np.uint64(0x94D049BB133111EB)
    return z ^ (z >> np.uint64(31))


def policy_key(seed: int) -> np.ndarray:
    """The policy's stream key for ``seed``, apart from the environments' own keys."""
    return np.random.SeedSequence([int(seed), 0x706F6C]).generate_state(2, dtype=np.uint64)


def step_uniforms(key: np.ndarray, env_index: np.ndarray, step: int, count: int) -> np.ndarray:
    """``count`` uniform numbers in [0, 1) per environment for global step
    ``step``: ``(len(env_index), count)``, a counter-based hash of the key, the
    environment's global index, the step and the draw number."""
    base = _mix(np.asarray(env_index, dtype=np.uint64) ^ key[1])
    base = _mix(base ^ key[0])
    base = _mix(base ^ (np.full_like(base, step) * _GOLDEN))
    draws = base[:, None] + (np.arange(1, count + 1, dtype=np.uint64) * _GOLDEN)[None, :]
    return (_mix(draws) >> np.uint64(11)).astype(np.float64) * (1.0 / (1 << 53))


def _blocked_matmul(x: np.ndarray, w: np.ndarray) -> np.ndarray:
    n = x.shape[0]
    rows = -(-n // ROW_BLOCK) * ROW_BLOCK
    if rows != n:
        x = np.concatenate([x, np.zeros((rows - n, x.shape[1]), dtype=x.dtype)])
    blocks = np.matmul(x.reshape(rows // ROW_BLOCK, ROW_BLOCK, x.shape[1]), w)
    return blocks.reshape(rows, w.shape[1])[:n]


class MLPPolicy:
    """Actor and critic MLPs (tanh hidden layers, as Stable-Baselines3's
    ``MlpPolicy``) over ``vexlo.VectorEnv`` observations, with one categorical
    head per action digit.

    ``policy(weights, obs, env_index, step, key)`` returns the sampled actions
    ``(n, len(nvec))`` and ``{"logp": (n,), "value": (n,)}``, all computed in
    float64 with NumPy; ``weights`` is a dict of arrays named as
    :meth:`init_weights` names them (``pi.{i}.w``/``.b``, ``vf.{i}.w``/``.b``,
    last layer included), which a learner fills from its own model.
    """

    def __init__(self, obs_dim: int, n_players: int = 1, hidden: Sequence[int] = (64, 64)) -> None:
        self.obs_dim = int(obs_dim)
        self.nvec = np.tile(np.array(PLAYER_ACTION, dtype=np.int64), int(n_players))
        self.hidden = tuple(int(h) for h in hidden)
        self._starts = np.concatenate([[0], np.cumsum(self.nvec)])

    def layer_sizes(self, head: str) -> list[tuple[int, int]]:
        sizes = [self.obs_dim, *self.hidden, int(self.nvec.sum()) if head == "pi" else 1]
        return list(zip(sizes[:-1], sizes[1:]))

    def init_weights(self, seed: int = 0) -> Weights:
        """Scaled Gaussian weights; the policy's output layer starts small, so the
        first actions are close to uniform."""
        rng = np.random.default_rng(seed)
        weights: Weights = {}
        for head, out_scale in (("pi", 0.01), ("vf", 1.0)):
            layers = self.layer_sizes(head)
            for i, (fan_in, fan_out) in enumerate(layers):
                scale = out_scale if i == len(layers) - 1 else np.sqrt(2.0)
                weights[f"{head}.{i}.w"] = rng.normal(0.0, scale / np.sqrt(fan_in), (fan_in, fan_out))
                weights[f"{head}.{i}.b"] = np.zeros(fan_out)
        return weights

    def forward(self, weights: Weights, obs: np.ndarray, head: str) -> np.ndarray:
        x = np.asarray(obs, dtype=np.float64)
        n_layers = len(self.hidden) + 1
        for i in range(n_layers):
            x = _blocked_matmul(x, np.asarray(weights[f"{head}.{i}.w"], dtype=np.float64))
            x += np.asarray(weights[f"{head}.{i}.b"], dtype=np.float64)
            if i < n_layers - 1:
                np.tanh(x, out=x)
        return x

    def log_probs(self, logits: np.ndarray) -> list[np.ndarray]:
        """Per action digit, the log-probabilities of its values, ``(n, k)``."""
        out = []
        for lo, hi in zip(self._starts[:-1], self._starts[1:]):
            z = logits[:, lo:hi] - logits[:, lo:hi].max(axis=1, keepdims=True)
            out.append(z - np.log(np.exp(z).sum(axis=1, keepdims=True)))
        return out

    def __call__(self, weights: Weights, obs: np.ndarray, env_index: np.ndarray, step: int,
                 key: np.ndarray) -> Tuple[np.ndarray, Dict[str, np.ndarray]]:
        n = obs.shape[0]
        heads = self.log_probs(self.forward(weights, obs, "pi"))
        u = step_uniforms(key, env_index, step, len(heads))
        actions = np.empty((n, len(heads)), dtype=np.int64)
        logp = np.zeros(n)
        rows = np.arange(n)
        for j, lp in enumerate(heads):
            cdf = np.cumsum(np.exp(lp), axis=1)
            # The first value whose cumulative probability exceeds the draw;
            # the last one when rounding leaves the total just under 1.
            a = np.minimum((u[:, j:j + 1] >= cdf).sum(axis=1), lp.shape[1] - 1)
            actions[:, j] = a
            logp += lp[rows, a]
        value = self.forward(weights, obs, "vf")[:, 0]
        return actions, {"logp": logp, "value": value}
