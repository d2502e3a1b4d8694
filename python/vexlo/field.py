"""Stadium geometry for observation, reward and drawing code.

The engine reports what the physics uses (goal lines, ball walls, obstacle
discs); the stadium text adds what only a picture needs (curved walls, which
walls are visible, the painted pitch). :class:`Field` holds both, in the engine
frame (the stadium file's frame with y reversed).
"""

from __future__ import annotations

import json
import math
from dataclasses import dataclass
from typing import Any, Sequence

import numpy as np
import vexlo_core

FLAG_RED: int = int(getattr(vexlo_core, "FLAG_RED", 2))
FLAG_BLUE: int = int(getattr(vexlo_core, "FLAG_BLUE", 4))

_FLAG_BITS = {
    "ball": 1, "red": 2, "blue": 4, "redKO": 8, "blueKO": 16,
    "wall": 32, "all": 63, "kick": 64, "score": 128,
}
_OBSTACLE_MASK = 31
_PLANE_HALF_LENGTH = 3000.0
_MIN_ARC_ANGLE = 0.17435839227423353
_MAX_ARC_ANGLE = 5.934119456780721
_DEG = 0.017453292519943295
#: A stadium's width/height further out than this many times its geometry
#: reaches is taken for a mistake, not a border to draw.
_MAX_EXTENT_FACTOR = 8.0


def _ball_verts() -> dict[str, Any]:
    return {"bCoef": 0.1, "cMask": ["ball"]}


def _barrier_verts() -> dict[str, Any]:
    return {"bCoef": 0.1, "cMask": ["red", "blue"], "cGroup": ["redKO", "blueKO"]}


def _classic() -> dict[str, Any]:
    verts: list[dict[str, Any]] = []
    for x, y in ((378, -64), (378, 64), (400, -42), (400, 42),
                 (-378, -64), (-378, 64), (-400, -42), (-400, 42)):
        verts.append({"x": x, "y": y, **_ball_verts()})
    for y in (-200, -75, 75, 200):
        verts.append({"x": 0, "y": y, **_barrier_verts()})
    for x, y in ((-370, -170), (370, -170), (370, -64), (370, 64),
                 (370, 170), (-370, 170), (-370, 64), (-370, -64)):
        verts.append({"x": x, "y": y, "cMask": []})
    net = {"bCoef": 0.1, "cMask": ["ball"]}
    arc90 = {"curve": 90, "curveF": 1.0000000000000002}
    arc180 = {"curve": 180, "curveF": 6.123233995736766e-17}
    barrier = {"vis": False, "cMask": ["red", "blue"]}
    segments = [
        {"v0": 0, "v1": 2, "bCoef": 0.1, **arc90, "cMask": ["ball"]},
        {"v0": 3, "v1": 2, **net},
        {"v0": 3, "v1": 1, "bCoef": 0.1, **arc90, "cMask": ["ball"]},
        {"v0": 6, "v1": 4, "bCoef": 0.1, **arc90, "cMask": ["ball"]},
        {"v0": 7, "v1": 6, **net},
        {"v0": 5, "v1": 7, "bCoef": 0.1, **arc90, "cMask": ["ball"]},
        {"v0": 8, "v1": 9, "bCoef": 0.1, **barrier, "cGroup": ["redKO", "blueKO"]},
        {"v0": 10, "v1": 11, "bCoef": 0.1, **barrier, "cGroup": ["redKO", "blueKO"]},
        {"v0": 9, "v1": 10, "bCoef": 0.1, **arc180, **barrier, "cGroup": ["redKO"]},
        {"v0": 10, "v1": 9, "bCoef": 0.1, **arc180, **barrier, "cGroup": ["blueKO"]},
        {"v0": 13, "v1": 14, "vis": False, "cMask": ["ball"]},
        {"v0": 15, "v1": 16, "vis": False, "cMask": ["ball"]},
        {"v0": 17, "v1": 18, "vis": False, "cMask": ["ball"]},
        {"v0": 19, "v1": 12, "vis": False, "cMask": ["ball"]},
    ]
    planes = [
        {"normal": [0, 1], "dist": -200, "bCoef": 0},
        {"normal": [0, -1], "dist": -200, "bCoef": 0},
        {"normal": [1, 0], "dist": -420, "bCoef": 0},
        {"normal": [-1, 0], "dist": -420, "bCoef": 0},
        {"normal": [0, 1], "dist": -170, "cMask": ["ball"]},
        {"normal": [0, -1], "dist": -170, "cMask": ["ball"]},
    ]
    goals = [
        {"p0": [370, -64], "p1": [370, 64], "team": "blue"},
        {"p0": [-370, -64], "p1": [-370, 64], "team": "red"},
    ]
    discs: list[dict[str, Any]] = [{"cGroup": ["ball", "kick", "score"]}]
    for x, y, colour in ((370, -64, "CCCCFF"), (370, 64, "CCCCFF"),
                         (-370, -64, "FFCCCC"), (-370, 64, "FFCCCC")):
        discs.append({"pos": [x, y], "radius": 8, "invMass": 0, "color": colour})
    return {
        "name": "Classic", "width": 420, "height": 200, "ballPhysics": "disc0",
        "vertexes": verts, "segments": segments, "planes": planes, "goals": goals,
        "playerPhysics": {}, "discs": discs, "spawnDistance": 277.5,
        "bg": {"type": "grass", "width": 370, "height": 170, "kickOffRadius": 75},
    }


#: The stadium the engine builds when no stadium text is given, as a ``.vxs`` text.
CLASSIC_VXS: str = json.dumps(_classic(), separators=(",", ":"))


def _flags(value: Any, default: int) -> int:
    if value is None:
        return default
    bits = 0
    for name in value:
        bits |= _FLAG_BITS.get(str(name), 0)
    return bits


def _props(item: dict[str, Any], traits: dict[str, Any]) -> dict[str, Any]:
    trait = traits.get(item.get("trait", ""), None) if isinstance(item.get("trait"), str) else None
    merged = dict(trait) if isinstance(trait, dict) else {}
    merged.update({k: v for k, v in item.items() if v is not None})
    return merged


def arc_points(e0: Sequence[float], e1: Sequence[float], curve_deg: float | None,
               samples: int = 24) -> np.ndarray:
    """Points along a wall from ``e0`` to ``e1`` (engine frame).

    ``curve_deg`` is the stadium file's "curve" (degrees); a straight wall, or an
    angle outside the arc range, gives just its two ends.
    """
    a0 = np.asarray(e0, dtype=np.float64)
    a1 = np.asarray(e1, dtype=np.float64)
    angle = (curve_deg or 0.0) * -_DEG
    if angle < 0:
        start, end, angle = a1, a0, -angle
    else:
        start, end = a0, a1
    if not (_MIN_ARC_ANGLE < angle < _MAX_ARC_ANGLE):
        return np.stack([a0, a1])
    f = 1.0 / math.tan(angle * 0.5)
    hx, hy = (end - start) * 0.5
    centre = np.array([start[0] + hx - hy * f, start[1] + hy + hx * f])
    radius = float(np.hypot(*(start - centre)))
    t0 = math.atan2(start[1] - centre[1], start[0] - centre[0])
    t1 = math.atan2(end[1] - centre[1], end[0] - centre[0])
    # The arc spans `angle`; take the turning direction that lands on `end`.
    ccw = (t1 - t0) % (2 * math.pi)
    direction = 1.0 if abs(ccw - angle) <= abs((2 * math.pi - ccw) - angle) else -1.0
    ts = t0 + direction * np.linspace(0.0, angle, samples)
    pts = centre + radius * np.stack([np.cos(ts), np.sin(ts)], axis=1)
    pts[0], pts[-1] = start, end
    return pts


@dataclass(frozen=True, eq=False)
class Field:
    """Geometry of one stadium, engine frame.

    ``goal_p0``/``goal_p1``/``goal_team`` are the goal lines and their defending
    team; ``walls`` the ball-colliding straight walls and planes as ``[x0, y0, x1,
    y1]`` rows; ``posts`` the obstacle discs ``[x, y, r]``. ``lines`` (visible
    walls as polylines, arcs sampled), ``pitch`` (half width, half height,
    kick-off radius of the painted pitch or ``None``), ``post_colors`` and
    ``extent`` (xmin, xmax, ymin, ymax) serve drawing.
    """

    goal_p0: np.ndarray
    goal_p1: np.ndarray
    goal_team: np.ndarray
    walls: np.ndarray
    posts: np.ndarray
    lines: tuple[np.ndarray, ...] = ()
    pitch: tuple[float, float, float] | None = None
    post_colors: tuple[str | None, ...] = ()
    extent: tuple[float, float, float, float] = (-420.0, 420.0, -200.0, 200.0)

    def goal_centre(self, team: int) -> np.ndarray:
        """Centre of the goal line(s) that ``team`` defends, shape (2,)."""
        sel = self.goal_team == team
        if not sel.any():
            raise ValueError(f"the stadium has no goal defended by team {team}")
        return ((self.goal_p0[sel] + self.goal_p1[sel]) * 0.5).mean(axis=0)

    @classmethod
    def from_vxs(cls, vxs: str) -> Field:
        """Geometry read from a stadium text alone (no engine involved)."""
        raw = json.loads(vxs)
        traits = raw.get("traits") or {}
        verts = [(float(v["x"]), -float(v["y"])) for v in raw.get("vertexes") or []]

        walls, lines = [], []
        for seg in raw.get("segments") or []:
            p = _props(seg, traits)
            e0, e1 = verts[int(p["v0"])], verts[int(p["v1"])]
            curve = p.get("curve")
            pts = arc_points(e0, e1, curve)
            if p.get("vis", True) is not False:
                lines.append(pts)
            if len(pts) == 2 and _flags(p.get("cMask"), 63) & 1:
                walls.append([e0[0], e0[1], e1[0], e1[1]])
        for plane in raw.get("planes") or []:
            p = _props(plane, traits)
            if not _flags(p.get("cMask"), 63) & 1:
                continue
            nx, ny = float(p["normal"][0]), -float(p["normal"][1])
            d = float(p["dist"])
            h = _PLANE_HALF_LENGTH
            walls.append([nx * d + h * ny, ny * d - h * nx, nx * d - h * ny, ny * d + h * nx])

        p0, p1, team = [], [], []
        for g in raw.get("goals") or []:
            p0.append((float(g["p0"][0]), -float(g["p0"][1])))
            p1.append((float(g["p1"][0]), -float(g["p1"][1])))
            team.append({"red": FLAG_RED, "blue": FLAG_BLUE}.get(g.get("team"), 0))

        ball_ref = raw.get("ballPhysics")
        skip = -1
        if isinstance(ball_ref, str) and ball_ref.startswith("disc"):
            try:
                skip = int(ball_ref[4:])
            except ValueError:
                skip = -1
        posts, colours = [], []
        for i, disc in enumerate(raw.get("discs") or []):
            if i == skip:
                continue
            p = _props(disc, traits)
            if not _flags(p.get("cMask"), 63) & _OBSTACLE_MASK:
                continue
            pos = p.get("pos") or (0.0, 0.0)
            posts.append([float(pos[0]), -float(pos[1]), float(p.get("radius", 10.0))])
            colours.append(p.get("color") if isinstance(p.get("color"), str) else None)

        bg = raw.get("bg") if isinstance(raw.get("bg"), dict) else {}
        pitch = None
        if "width" in bg and "height" in bg:
            pitch = (float(bg["width"]), float(bg["height"]), float(bg.get("kickOffRadius", 0.0)))
        field = cls(
            goal_p0=np.array(p0, dtype=np.float64).reshape(-1, 2),
            goal_p1=np.array(p1, dtype=np.float64).reshape(-1, 2),
            goal_team=np.array(team, dtype=np.int64),
            walls=np.array(walls, dtype=np.float64).reshape(-1, 4),
            posts=np.array(posts, dtype=np.float64).reshape(-1, 3),
            lines=tuple(lines),
            pitch=pitch,
            post_colors=tuple(colours),
        )
        return field._replace(extent=field._declared_extent(raw.get("width"), raw.get("height")))

    @classmethod
    def from_core(cls, core: vexlo_core.VecEnv, vxs: str | None = None) -> Field:
        """Geometry of ``core``'s stadium.

        The engine's own goal lines, walls and obstacles are used where the
        module offers them; ``vxs`` (default: the built-in stadium's text)
        supplies the drawing and stands in for any query the module lacks.
        """
        try:
            base, drawn = cls.from_vxs(vxs if vxs is not None else CLASSIC_VXS), True
        except (ValueError, KeyError, IndexError, TypeError, AttributeError):
            base, drawn = cls.from_vxs(CLASSIC_VXS), False
        changes: dict[str, Any] = {}
        if hasattr(core, "goals"):
            p0, p1, team = core.goals()
            changes.update(goal_p0=np.asarray(p0), goal_p1=np.asarray(p1), goal_team=np.asarray(team))
        if hasattr(core, "wall_segments"):
            changes["walls"] = np.asarray(core.wall_segments())
        if hasattr(core, "obstacle_discs"):
            changes["posts"] = np.asarray(core.obstacle_discs())
        field = base._replace(**changes)
        if len(field.posts) != len(field.post_colors):
            field = field._replace(post_colors=(None,) * len(field.posts))
        if not drawn:
            # Unreadable text: draw the engine's straight walls only.
            field = field._replace(pitch=None, lines=tuple(
                np.array(w, dtype=np.float64).reshape(2, 2) for w in field.walls))
            field = field._replace(extent=field.geometry_extent())
        return field

    def _replace(self, **changes: Any) -> Field:
        values = {name: getattr(self, name) for name in self.__dataclass_fields__}
        values.update(changes)
        return Field(**values)

    def _declared_extent(self, width: Any, height: Any) -> tuple[float, float, float, float]:
        """The stadium's own half ``width`` and ``height`` as the extent, unless
        they are missing, not positive numbers, or so large beside the geometry
        that the field would be lost in the picture: then the geometry's extent."""
        geometry = self.geometry_extent()
        try:
            w, h = float(width), float(height)
        except (TypeError, ValueError, OverflowError):
            return geometry
        x0, x1, y0, y1 = geometry
        reach = max(abs(x0), abs(x1), abs(y0), abs(y1), 1.0) * _MAX_EXTENT_FACTOR
        if not (0 < w <= reach and 0 < h <= reach):  # also false for NaN
            return geometry
        return (-w, w, -h, h)

    def geometry_extent(self) -> tuple[float, float, float, float]:
        """(xmin, xmax, ymin, ymax) of the walls, goal lines and obstacle discs;
        planes bound it only across their own direction."""
        xs: list[float] = []
        ys: list[float] = []
        for x0, y0, x1, y1 in self.walls:
            if max(abs(x0), abs(x1)) >= _PLANE_HALF_LENGTH * 0.99:
                ys.append(y0)  # horizontal plane: only its height bounds the field
            elif max(abs(y0), abs(y1)) >= _PLANE_HALF_LENGTH * 0.99:
                xs.append(x0)
            else:
                xs += [x0, x1]
                ys += [y0, y1]
        for pts in self.lines:
            if np.abs(pts).max() < _PLANE_HALF_LENGTH * 0.99:
                xs += list(pts[:, 0])
                ys += list(pts[:, 1])
        xs += list(self.goal_p0[:, 0]) + list(self.goal_p1[:, 0])
        ys += list(self.goal_p0[:, 1]) + list(self.goal_p1[:, 1])
        for x, y, r in self.posts:
            xs += [x - r, x + r]
            ys += [y - r, y + r]
        if not xs or not ys:
            return (-420.0, 420.0, -200.0, 200.0)
        return (float(min(xs)), float(max(xs)), float(min(ys)), float(max(ys)))
