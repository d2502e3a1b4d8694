"""Stadium geometry for observation, reward and drawing code.

The engine decodes and builds every stadium text and describes it
(:func:`vexlo_core.describe_stadium`): what the physics uses (goal lines, ball
walls, obstacle discs) and what only a picture needs (curved walls, which walls
are visible, the painted pitch). :class:`Field` holds both, in the engine frame
(the stadium file's frame with y reversed).
"""

from __future__ import annotations

import dataclasses
import json
import math
from dataclasses import dataclass
from typing import Any, Sequence

import numpy as np
import vexlo_core

FLAG_RED: int = vexlo_core.FLAG_RED
FLAG_BLUE: int = vexlo_core.FLAG_BLUE

#: The stadium the engine builds when no stadium text is given, as a ``.vxs`` text.
CLASSIC_VXS: str = vexlo_core.CLASSIC_VXS

#: A stadium's width/height further out than this many times its geometry
#: reaches is taken for a mistake, not a border to draw.
_MAX_EXTENT_FACTOR = 8.0
_SAMPLES = 24


def _sample_arc(v0: np.ndarray, v1: np.ndarray, centre: np.ndarray, radius: float, turn: float,
                samples: int) -> np.ndarray:
    """``samples`` points from ``v0`` counter-clockwise around ``centre`` by
    ``turn`` radians to ``v1``; just the two ends when ``turn`` is 0."""
    if turn == 0.0:
        return np.stack([v0, v1])
    t0 = np.arctan2(v0[1] - centre[1], v0[0] - centre[0])
    ts = t0 + np.linspace(0.0, turn, samples)
    pts = centre + radius * np.stack([np.cos(ts), np.sin(ts)], axis=1)
    pts[0], pts[-1] = v0, v1
    return pts


def arc_points(e0: Sequence[float], e1: Sequence[float], curve_deg: float | None,
               samples: int = _SAMPLES) -> np.ndarray:
    """Points along a wall from ``e0`` to ``e1`` (engine frame).

    ``curve_deg`` is the stadium file's "curve" (degrees); a straight wall, or an
    angle outside the arc range, gives just its two ends. The engine builds the
    arc, from a one-wall stadium text.
    """
    a0 = np.asarray(e0, dtype=np.float64)
    a1 = np.asarray(e1, dtype=np.float64)
    if not curve_deg or not math.isfinite(curve_deg):
        return np.stack([a0, a1])
    text = json.dumps({
        "vertexes": [{"x": float(a0[0]), "y": -float(a0[1])}, {"x": float(a1[0]), "y": -float(a1[1])}],
        "segments": [{"v0": 0, "v1": 1, "curve": float(curve_deg)}],
    })
    wall = vexlo_core.describe_stadium(text)["segments"]
    turn = float(wall["turn"][0])
    if turn == 0.0:
        return np.stack([a0, a1])
    return _sample_arc(wall["v0"][0], wall["v1"][0], wall["center"][0], float(wall["radius"][0]), turn, samples)


#: The built-in stadium as the engine describes it: it gives the defaults below.
_CLASSIC = vexlo_core.describe_stadium(CLASSIC_VXS)
_W, _H = _CLASSIC["width"], _CLASSIC["height"]
assert _W is not None and _H is not None  # the built-in text declares its size
_CLASSIC_EXTENT: tuple[float, float, float, float] = (-_W, _W, -_H, _H)


@dataclass(frozen=True, eq=False)
class Field:
    """Geometry of one stadium, engine frame.

    ``goal_p0``/``goal_p1``/``goal_team`` are the goal lines and their defending
    team; ``walls`` the ball-colliding straight walls and planes as ``[x0, y0, x1,
    y1]`` rows; ``posts`` the obstacle discs ``[x, y, r]``. ``lines`` (visible
    walls as polylines, arcs sampled), ``pitch`` (half width, half height,
    kick-off radius of the painted pitch or ``None``), ``post_colors``,
    ``extent`` (xmin, xmax, ymin, ymax) and the ball's and players' radii
    serve drawing.
    """

    goal_p0: np.ndarray
    goal_p1: np.ndarray
    goal_team: np.ndarray
    walls: np.ndarray
    posts: np.ndarray
    lines: tuple[np.ndarray, ...] = ()
    pitch: tuple[float, float, float] | None = None
    post_colors: tuple[str | None, ...] = ()
    extent: tuple[float, float, float, float] = _CLASSIC_EXTENT
    ball_radius: float = _CLASSIC["ball_radius"]
    player_radius: float = _CLASSIC["player_radius"]

    def goal_centre(self, team: int) -> np.ndarray:
        """Centre of the goal line(s) that ``team`` defends, shape (2,)."""
        sel = self.goal_team == team
        if not sel.any():
            raise ValueError(f"the stadium has no goal defended by team {team}")
        return ((self.goal_p0[sel] + self.goal_p1[sel]) * 0.5).mean(axis=0)

    @classmethod
    def from_vxs(cls, vxs: str) -> Field:
        """Geometry of a stadium text as the engine decodes and builds it (no
        matches are made). A bad text raises the engine's ValueError."""
        d = vexlo_core.describe_stadium(vxs)
        seg = d["segments"]
        lines = tuple(_sample_arc(seg["v0"][i], seg["v1"][i], seg["center"][i], float(seg["radius"][i]),
                                  float(seg["turn"][i]), _SAMPLES)
                      for i in np.flatnonzero(seg["visible"]))
        discs = d["discs"]
        obstacle = discs["obstacle"]
        field = cls(
            goal_p0=d["goals"]["p0"],
            goal_p1=d["goals"]["p1"],
            goal_team=d["goals"]["team"],
            walls=d["ball_walls"],
            posts=np.hstack([discs["pos"], discs["radius"][:, None]])[obstacle],
            lines=lines,
            pitch=d["pitch"],
            post_colors=tuple(c for c, keep in zip(discs["color"], obstacle) if keep),
            ball_radius=d["ball_radius"],
            player_radius=d["player_radius"],
        )
        return field._replace(extent=field._declared_extent(d["width"], d["height"]))

    @classmethod
    def from_core(cls, core: vexlo_core.VecEnv, vxs: str | None = None) -> Field:
        """Geometry of ``core``'s stadium.

        The goal lines, walls and obstacles are the engine's (environment 0's);
        ``vxs`` (default: the built-in stadium's text) supplies the drawing. A
        text the engine refuses leaves the engine's straight walls to draw.
        """
        try:
            base, drawn = cls.from_vxs(vxs if vxs is not None else CLASSIC_VXS), True
        except ValueError:
            base, drawn = cls.from_vxs(CLASSIC_VXS), False
        p0, p1, team = core.goals()
        field = base._replace(goal_p0=np.asarray(p0), goal_p1=np.asarray(p1), goal_team=np.asarray(team),
                              walls=np.asarray(core.wall_segments()), posts=np.asarray(core.obstacle_discs()))
        if len(field.posts) != len(field.post_colors):
            field = field._replace(post_colors=(None,) * len(field.posts))
        if not drawn:
            field = field._replace(pitch=None, lines=tuple(
                np.array(w, dtype=np.float64).reshape(2, 2) for w in field.walls))
            field = field._replace(extent=field.geometry_extent())
        return field

    def _replace(self, **changes: Any) -> Field:
        return dataclasses.replace(self, **changes)

    def _declared_extent(self, width: float | None, height: float | None) -> tuple[float, float, float, float]:
        """The stadium's own half ``width`` and ``height`` as the extent, unless
        they are missing, not positive, or so large beside the geometry that
        the field would be lost in the picture: then the geometry's extent."""
        geometry = self.geometry_extent()
        if width is None or height is None:
            return geometry
        x0, x1, y0, y1 = geometry
        reach = max(abs(x0), abs(x1), abs(y0), abs(y1), 1.0) * _MAX_EXTENT_FACTOR
        if not (0 < width <= reach and 0 < height <= reach):  # also false for NaN
            return geometry
        return (-width, width, -height, height)

    def geometry_extent(self) -> tuple[float, float, float, float]:
        """(xmin, xmax, ymin, ymax) of the walls, goal lines and obstacle discs;
        planes bound it only across their own direction."""
        # A plane's row reaches PLANE_HALF_LENGTH times its normal's length.
        far = vexlo_core.PLANE_HALF_LENGTH * 0.99
        xs: list[float] = []
        ys: list[float] = []
        for x0, y0, x1, y1 in self.walls:
            if max(abs(x0), abs(x1)) >= far:
                ys.append(y0)  # horizontal plane: only its height bounds the field
            elif max(abs(y0), abs(y1)) >= far:
                xs.append(x0)
            else:
                xs += [x0, x1]
                ys += [y0, y1]
        for pts in self.lines:
            if np.abs(pts).max() < far:
                xs += list(pts[:, 0])
                ys += list(pts[:, 1])
        xs += list(self.goal_p0[:, 0]) + list(self.goal_p1[:, 0])
        ys += list(self.goal_p0[:, 1]) + list(self.goal_p1[:, 1])
        for x, y, r in self.posts:
            xs += [x - r, x + r]
            ys += [y - r, y + r]
        if not xs or not ys:
            return _CLASSIC_EXTENT
        return (float(min(xs)), float(max(xs)), float(min(ys)), float(max(ys)))
