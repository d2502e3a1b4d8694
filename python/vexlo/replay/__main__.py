"""``python -m vexlo.replay``: check and draw replay files.

``verify FILE`` re-simulates the file and exits 0 when every digest matches,
1 at the first divergence (printed), 2 when the file cannot be read.
``render FILE OUT`` draws one environment of it as an animated GIF
(``OUT.gif``) or a self-contained HTML player (``OUT.html``).
``info FILE`` prints what the file holds.
"""

from __future__ import annotations

import argparse
import sys
from typing import Sequence

import numpy as np

from . import ReplayError, load

EXIT_DIVERGED = 1
EXIT_UNREADABLE = 2


def _info(args: argparse.Namespace) -> int:
    r = load(args.file)
    print(f"{r.n_steps} steps of {r.n_envs} environments, {r.n_red} red and {r.n_blue} blue players, "
          f"tick_skip {r.tick_skip}, step_limit {r.step_limit}; {len(r.keyframes)} states loaded "
          f"between steps, {len(r.checkpoint_steps)} checkpoints")
    return 0


def _verify(args: argparse.Namespace) -> int:
    r = load(args.file)
    divergence = r.verify()
    if divergence is not None:
        print(f"{args.file}: {divergence}")
        return EXIT_DIVERGED
    print(f"{args.file}: {r.n_steps} steps of {r.n_envs} environments re-simulate bit for bit")
    return 0


def kicking(blob: bytes, n_players: int) -> np.ndarray:
    """Each player's ``kicking`` flag in a one-environment state blob: the
    engine reports kick state for environment 0 only."""
    discs = int.from_bytes(blob[20:24], "little")
    first = 48 + 64 + 40 * discs + 16  # header, fixed fields, discs; then 18 bytes a player
    return np.frombuffer(blob, np.uint8, count=n_players * 18, offset=first - 16).reshape(-1, 18)[:, 16] > 0


def _render(args: argparse.Namespace) -> int:
    from ..field import Field
    from ..render import Renderer, save_gif, save_html
    from ..state import State

    out = str(args.out)
    r = load(args.file)
    if not 0 <= args.env < r.n_envs:
        raise ReplayError(f"--env {args.env} is not one of its {r.n_envs} environments")
    renderer = Renderer(Field.from_vxs(r.stadium), scale=args.scale)
    core = r.make_core()
    teams = np.asarray(core.teams())[0]

    only = np.zeros(r.n_envs, dtype=bool)
    only[args.env] = True

    def frame() -> np.ndarray:
        return renderer.draw(State.read(core), teams, index=args.env,
                             kicking=kicking(core.save_state(only), len(teams)))

    frames = [frame()]
    for core, _ in r.simulate():
        frames.append(frame())
    fps = args.fps if args.fps is not None else max(1.0, 60.0 / r.tick_skip)
    (save_gif if out.lower().endswith(".gif") else save_html)(frames, out, fps=fps)
    print(f"{out}: {len(frames)} frames of environment {args.env}")
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    parser = argparse.ArgumentParser(prog="python -m vexlo.replay", description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    p = sub.add_parser("verify", help="re-simulate and compare the digests")
    p.add_argument("file")
    p.set_defaults(run=_verify)
    p = sub.add_parser("info", help="what the file holds")
    p.add_argument("file")
    p.set_defaults(run=_info)
    p = sub.add_parser("render", help="draw one environment as a GIF or HTML replay")
    p.add_argument("file")
    p.add_argument("out", help="OUT.gif or OUT.html")
    p.add_argument("--env", type=int, default=0, help="environment to draw (default 0)")
    p.add_argument("--fps", type=float, default=None, help="frames per second (default: real time)")
    p.add_argument("--scale", type=float, default=1.0, help="pixels per stadium unit")
    p.set_defaults(run=_render)
    args = parser.parse_args(argv)
    if args.command == "render" and not str(args.out).lower().endswith((".gif", ".html", ".htm")):
        parser.error(f"the output must end in .gif or .html, not {args.out!r}")
    try:
        return int(args.run(args))
    except (ReplayError, OSError) as err:
        print(f"{args.file}: {err}", file=sys.stderr)
        return EXIT_UNREADABLE


if __name__ == "__main__":
    sys.exit(main())
