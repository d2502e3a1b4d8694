"""Batched reward functions: ``reward(view, prev, state, scored) -> (N,) float64``.

``prev`` and ``state`` are the snapshots before and after the step, ``scored``
the module's result (-1, or the flag of the team that conceded).
"""

from __future__ import annotations

import numpy as np

from .obs import View
from .state import State


def goal_reward(view: View, prev: State, state: State, scored: np.ndarray) -> np.ndarray:
    """+1 when the opponents concede, -1 when the viewing team does, else 0."""
    reward = np.zeros(scored.shape[0])
    if np.count_nonzero(scored >= 0):
        reward[scored == view.opponent] = 1.0
        reward[scored == view.team] = -1.0
    return reward


class ShapedReward:
    """Goal reward plus potential-based shaping, for faster learning.

    Adds ``ball_to_goal`` times the decrease of the ball's distance to the
    opponent goal and ``player_to_ball`` times the decrease of the viewing
    player's distance to the ball (distances in view units, where the goals
    are 2 apart). Both terms telescope over an episode, so they cannot be farmed.
    """

    def __init__(self, goal: float = 1.0, ball_to_goal: float = 0.5, player_to_ball: float = 0.1) -> None:
        self.goal = float(goal)
        self.ball_to_goal = float(ball_to_goal)
        self.player_to_ball = float(player_to_ball)

    def _potential(self, view: View, s: State) -> np.ndarray:
        ball = s.ball_pos * view.pos_mul - view.pos_off
        me = s.player_pos[:, view.slots[0]] * view.pos_mul - view.pos_off
        d_goal = np.hypot(*(view.opp_goal - ball).T)
        d_ball = np.hypot(*(ball - me).T)
        return -(self.ball_to_goal * d_goal + self.player_to_ball * d_ball)

    def __call__(self, view: View, prev: State, state: State, scored: np.ndarray) -> np.ndarray:
        shaped = self._potential(view, state) - self._potential(view, prev)
        # A goal ends the episode: the shaping stops at the goal line.
        shaped[scored >= 0] = 0.0
        return self.goal * goal_reward(view, prev, state, scored) + shaped
