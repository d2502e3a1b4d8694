"""Pictures of matches (Pillow), a live window, and episode replays (animated GIF, HTML)."""

from __future__ import annotations

import base64
import html
import io
import math
import os
import sys
import time
from typing import Any, Callable, Iterable, Sequence

import numpy as np
from PIL import Image, ImageDraw

from .field import FLAG_BLUE, FLAG_RED, Field
from .state import State

GRASS = (112, 148, 84)
GRASS_OUT = (88, 118, 66)
LINE = (199, 230, 189)
WALL = (30, 30, 30)
BALL = (255, 255, 255)
OUTLINE = (0, 0, 0)
TEAM_COLOURS = {FLAG_RED: (229, 110, 86), FLAG_BLUE: (86, 137, 229)}
OTHER = (200, 200, 200)
#: Largest picture drawn: pixels on a side and in all.
MAX_SIDE = 4096
MAX_PIXELS = 4_000_000


def _hex(colour: str | None, default: tuple[int, int, int]) -> tuple[int, int, int]:
    if not colour or len(colour) != 6:
        return default
    try:
        return (int(colour[0:2], 16), int(colour[2:4], 16), int(colour[4:6], 16))
    except ValueError:
        return default


class Renderer:
    """Draws one environment of a batch onto the stadium.

    ``scale`` is pixels per stadium unit; drawing happens at ``supersample``
    times that size and is scaled down, which smooths the edges. The static
    part (pitch, walls, goals, posts) is drawn once. A picture is at most
    ``MAX_SIDE`` pixels on a side and ``MAX_PIXELS`` in all: a larger stadium
    is drawn at a smaller scale (``self.scale`` is the one used), and fewer
    supersamples keep the drawing within four times that. The ball and the
    players are drawn at the stadium's radii unless others are given.
    """

    def __init__(self, field: Field, scale: float = 1.0, margin: float = 15.0,
                 supersample: int = 2, ball_radius: float | None = None,
                 player_radius: float | None = None) -> None:
        self.field = field
        self.scale = float(scale)
        self.ss = max(1, int(supersample))
        self.ball_radius = float(field.ball_radius if ball_radius is None else ball_radius)
        self.player_radius = float(field.player_radius if player_radius is None else player_radius)
        if not (math.isfinite(self.scale) and self.scale > 0):
            raise ValueError(f"scale must be a positive number of pixels per unit, not {scale!r}")
        x0, x1, y0, y1 = field.extent
        if not all(map(math.isfinite, field.extent)) or x1 <= x0 or y1 <= y0:
            x0, x1, y0, y1 = field.geometry_extent()
        self.x0 = x0 - margin
        self.y1 = y1 + margin
        width, height = max(1.0, x1 - x0 + 2 * margin), max(1.0, y1 - y0 + 2 * margin)
        # A huge stadium is drawn smaller rather than asking for gigabytes.
        fit = min(MAX_SIDE / width, MAX_SIDE / height, math.sqrt(MAX_PIXELS / (width * height)))
        if fit < self.scale:
            self.scale = fit  # and rounded down: rounding up could pass the cap
            self.size = (max(1, math.floor(width * fit)), max(1, math.floor(height * fit)))
        else:
            self.size = (max(1, int(round(width * self.scale))), max(1, int(round(height * self.scale))))
        self.ss = max(1, min(self.ss, int(math.sqrt(MAX_PIXELS * 4 / (self.size[0] * self.size[1])))))
        self._k = self.scale * self.ss
        self._background = self._draw_background()

    def _xy(self, x: float, y: float) -> tuple[float, float]:
        # Screen rows grow downwards as the stadium file's y does, i.e. against the engine's y.
        return ((x - self.x0) * self._k, (self.y1 - y) * self._k)

    def _circle(self, draw: ImageDraw.ImageDraw, x: float, y: float, r: float, fill: Any,
                outline: Any = OUTLINE, width: float = 2.0) -> None:
        cx, cy = self._xy(x, y)
        rr = r * self._k
        draw.ellipse((cx - rr, cy - rr, cx + rr, cy + rr), fill=fill, outline=outline,
                     width=max(1, int(round(width * self._k))))

    def _draw_background(self) -> Image.Image:
        f = self.field
        w, h = self.size[0] * self.ss, self.size[1] * self.ss
        img = Image.new("RGB", (w, h), GRASS_OUT)
        draw = ImageDraw.Draw(img)
        lw = max(1, int(round(2 * self._k)))
        if f.pitch is not None:
            pw, ph, kick_r = f.pitch
            draw.rectangle((*self._xy(-pw, ph), *self._xy(pw, -ph)), fill=GRASS, outline=LINE, width=lw)
            draw.line((*self._xy(0, ph), *self._xy(0, -ph)), fill=LINE, width=lw)
            if kick_r > 0:
                self._circle(draw, 0.0, 0.0, kick_r, fill=None, outline=LINE)
        else:
            x0, x1, y0, y1 = f.extent
            draw.rectangle((*self._xy(x0, y1), *self._xy(x1, y0)), fill=GRASS)
        for pts in f.lines:
            draw.line([self._xy(float(x), float(y)) for x, y in pts], fill=WALL, width=lw, joint="curve")
        for p0, p1, team in zip(f.goal_p0, f.goal_p1, f.goal_team):
            draw.line((*self._xy(*p0), *self._xy(*p1)), fill=TEAM_COLOURS.get(int(team), OTHER), width=lw)
        for (x, y, r), hex_colour in zip(f.posts, f.post_colors):
            self._circle(draw, float(x), float(y), float(r), fill=_hex(hex_colour, OTHER))
        return img

    def draw(self, state: State, teams: Sequence[int], index: int = 0,
             kicking: Sequence[bool] | np.ndarray | None = None) -> np.ndarray:
        """RGB image ``(H, W, 3)`` ``uint8`` of environment ``index`` of ``state``.

        ``teams`` holds the team flag of every player slot; players whose
        ``kicking`` entry is true get a white ring.
        """
        img = self._background.copy()
        draw = ImageDraw.Draw(img)
        pos = state.player_pos[index]
        for p in range(pos.shape[0]):
            ring = (255, 255, 255) if kicking is not None and kicking[p] else OUTLINE
            self._circle(draw, float(pos[p, 0]), float(pos[p, 1]), self.player_radius,
                         fill=TEAM_COLOURS.get(int(teams[p]), OTHER), outline=ring)
        bx, by = state.ball_pos[index]
        self._circle(draw, float(bx), float(by), self.ball_radius, fill=BALL)
        if self.ss > 1:
            img = img.resize(self.size, Image.Resampling.LANCZOS)
        return np.asarray(img, dtype=np.uint8)


def _display_missing() -> str | None:
    """Why no window can be opened here, or ``None`` when one may be."""
    if sys.platform.startswith(("win", "darwin")):
        return None
    if os.environ.get("DISPLAY") or os.environ.get("WAYLAND_DISPLAY"):
        return None
    return "no display: neither DISPLAY nor WAYLAND_DISPLAY is set"


class HumanWindow:
    """A window that shows frames as they come (``render_mode="human"``).

    It uses tkinter from the standard library, with Pillow's ``ImageTk``, and
    holds each frame until ``1 / fps`` seconds after the previous one, so a
    match plays at its real speed. Without a display it raises
    ``RuntimeError`` and without tkinter gymnasium's
    ``DependencyNotInstalled``, both saying what is missing; drawing to RGB
    arrays (``render_mode="rgb_array"``) and ``save_gif``/``save_html`` need
    neither.
    """

    def __init__(self, title: str = "Vexlo", fps: float | None = None) -> None:
        if fps is not None:
            _check_fps(fps)
        self.period = 0.0 if fps is None else 1.0 / float(fps)
        try:
            import tkinter
            from PIL import ImageTk
        except ImportError as err:
            from gymnasium.error import DependencyNotInstalled

            raise DependencyNotInstalled(
                f"render_mode='human' needs tkinter and Pillow's ImageTk ({err}); on Debian or Ubuntu "
                "install python3-tk, or use render_mode='rgb_array' with vexlo.save_gif/save_html") from None
        missing = _display_missing()
        if missing is not None:
            raise RuntimeError(f"render_mode='human' needs a window, but there is {missing}; use "
                               "render_mode='rgb_array' with vexlo.save_gif/save_html instead")
        try:
            self._root: Any = tkinter.Tk()
        except tkinter.TclError as err:
            raise RuntimeError(f"render_mode='human' cannot open a window: {err}") from None
        self._root.title(title)
        self._root.protocol("WM_DELETE_WINDOW", self.close)
        self._label = tkinter.Label(self._root, borderwidth=0, highlightthickness=0)
        self._label.pack()
        self._photo_class = ImageTk.PhotoImage
        self._photo: Any = None  # tkinter shows an image only while Python holds it
        self._shown_at = -math.inf

    @property
    def is_open(self) -> bool:
        """Whether the window is still open."""
        return self._root is not None

    def show(self, frame: np.ndarray) -> None:
        """Show an RGB frame ``(H, W, 3)``, waiting for its turn at ``fps``.
        Once the window is closed (by ``close`` or by its user) frames are
        dropped, so a run goes on without it."""
        if self._root is None:
            return
        self._photo = self._photo_class(Image.fromarray(np.asarray(frame, dtype=np.uint8)))
        self._label.configure(image=self._photo)
        wait = self._shown_at + self.period - time.monotonic()
        if wait > 0:
            time.sleep(wait)
        self._root.update()
        self._shown_at = time.monotonic()

    def close(self) -> None:
        """Close the window; closing it again does nothing."""
        if self._root is not None:
            self._root.destroy()
            self._root = None


def record_episode(env: Any, policy: Callable[[np.ndarray], np.ndarray] | None = None,
                   max_steps: int = 10_000, seed: int | None = None) -> list[np.ndarray]:
    """Frames of environment 0 over one episode of a :class:`vexlo.VectorEnv`.

    ``policy`` maps the batched observation to batched actions (default: all
    players of the controlled team stand still). The first frame shows the
    start, the last the step that ended the episode (with next-step autoreset,
    the default, the engine still holds that final state when it is drawn).
    """
    obs, _ = env.reset(seed=seed)
    frames = [env.render_env(0)]
    for _ in range(max_steps):
        if policy is None:
            actions = np.ones((env.num_envs, env.single_action_space.shape[0]), dtype=np.int64)
            actions[:, 2::3] = 0
        else:
            actions = policy(obs)
        obs, _, terminated, truncated, _ = env.step(actions)
        frames.append(env.render_env(0))
        if terminated[0] or truncated[0]:
            break
    return frames


def save_gif(frames: Iterable[np.ndarray], path: str | os.PathLike[str], fps: float = 30.0) -> None:
    """Write frames as a looping animated GIF."""
    _check_fps(fps)
    images = [Image.fromarray(np.asarray(f, dtype=np.uint8)) for f in frames]
    if not images:
        raise ValueError("no frames to write")
    images[0].save(path, save_all=True, append_images=images[1:], loop=0,
                   duration=max(20, int(round(1000.0 / fps))), optimize=False)


def _check_fps(fps: float) -> None:
    if not (isinstance(fps, (int, float, np.integer, np.floating)) and math.isfinite(fps) and fps > 0):
        raise ValueError(f"fps must be a positive finite number of frames per second, not {fps!r}")


def _png_data(frame: np.ndarray) -> str:
    buf = io.BytesIO()
    Image.fromarray(np.asarray(frame, dtype=np.uint8)).quantize(colors=64).save(buf, format="PNG", optimize=True)
    return base64.b64encode(buf.getvalue()).decode("ascii")


_HTML = """<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>{title}</title>
<style>body{{font-family:sans-serif;background:#222;color:#ddd;text-align:center}}
img{{image-rendering:auto;max-width:100%}}input[type=range]{{width:60%}}</style></head>
<body><h3>{title}</h3><img id="f" src="data:image/png;base64,{first}"><br>
<button id="p">pause</button> <input id="s" type="range" min="0" max="{last}" value="0">
<span id="n">0</span>/{last}
<script>
const F={frames};const img=document.getElementById('f'),s=document.getElementById('s'),
n=document.getElementById('n'),b=document.getElementById('p');let i=0,on=true;
function show(k){{i=k;img.src='data:image/png;base64,'+F[k];s.value=k;n.textContent=k;}}
setInterval(()=>{{if(on)show((i+1)%F.length);}},{delay});
b.onclick=()=>{{on=!on;b.textContent=on?'pause':'play';}};s.oninput=()=>{{on=false;b.textContent='play';show(+s.value);}};
</script></body></html>
"""


def save_html(frames: Sequence[np.ndarray], path: str | os.PathLike[str], fps: float = 30.0,
              title: str = "Vexlo replay") -> None:
    """Write a self-contained HTML replay (frames embedded as PNG, a small player)."""
    _check_fps(fps)
    if len(frames) == 0:
        raise ValueError("no frames to write")
    data = [_png_data(f) for f in frames]
    text = _HTML.format(title=html.escape(title), first=data[0], last=len(data) - 1,
                        frames="[" + ",".join(f'"{d}"' for d in data) + "]",
                        delay=max(10, int(round(1000.0 / fps))))
    with open(path, "w", encoding="utf-8") as fh:
        fh.write(text)
