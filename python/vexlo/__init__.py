"""Reinforcement-learning environments over the ``vexlo_core`` match engine.

* :class:`VectorEnv` — a Gymnasium vector environment: a batch of matches in
  which the agent controls one team.
* :class:`SingleEnv` — the same for one match, as a plain ``gymnasium.Env``.
* :class:`ParallelEnv` — a PettingZoo parallel environment: one match, one
  agent per player, for self-play.
* :class:`SelfPlayEnv` — a vector environment of many matches in which every
  player is an agent, for batched self-play.
* :mod:`vexlo.replay` — replay files that re-simulate a batch bit for bit.

Registered with Gymnasium as ``"vexlo/Vexlo-v0"`` (``gymnasium.make`` and
``gymnasium.make_vec(..., vectorization_mode="vector_entry_point")``).
"""

from __future__ import annotations

import gymnasium as _gym

try:
    from vexlo_core import __version__
except ImportError:  # an engine built before it carried its version
    from importlib.metadata import version as _version

    __version__ = _version("vexlo_core")

from .env import KICK_PRESS, KICK_REARM, PLAYER_ACTION, SingleEnv, VectorEnv, make_core
from .field import CLASSIC_VXS, FLAG_BLUE, FLAG_RED, Field
from .kickoff import OpenKickoff, RandomKickoff
from .obs import TeamObservation, View, obs_size
from .parallel import ParallelEnv
from .policies import ChaseBall, RandomPolicy
from . import replay
from .render import HumanWindow, Renderer, record_episode, save_gif, save_html
from .rewards import ShapedReward, goal_reward
from .selfplay import SelfPlayEnv
from .state import State

__all__ = [
    "CLASSIC_VXS", "FLAG_BLUE", "FLAG_RED", "KICK_PRESS", "KICK_REARM", "PLAYER_ACTION",
    "ChaseBall", "Field", "HumanWindow", "OpenKickoff", "ParallelEnv", "RandomKickoff", "RandomPolicy",
    "Renderer", "SelfPlayEnv", "ShapedReward", "SingleEnv", "State", "TeamObservation", "VectorEnv", "View",
    "goal_reward", "make_core", "obs_size", "record_episode", "replay", "save_gif", "save_html",
    "__version__",
]

ENV_ID = "vexlo/Vexlo-v0"
if ENV_ID not in _gym.registry:
    _gym.register(id=ENV_ID, entry_point="vexlo.env:SingleEnv",
                  vector_entry_point="vexlo.env:VectorEnv")
