"""Type stubs of the native match engine ``vexlo_core``."""

from collections.abc import Callable, Mapping, Sequence
from typing import Any, SupportsIndex, TypedDict, final

import numpy as np
import numpy.typing as npt

__version__: str
FLAG_RED: int
FLAG_BLUE: int
CLASSIC_VXS: str
COLLISION_FLAGS: Mapping[str, int]
PLANE_HALF_LENGTH: float

_F64 = npt.NDArray[np.float64]
_I64 = npt.NDArray[np.int64]
_Vec2 = tuple[float, float]
_Offsets = Sequence[SupportsIndex] | npt.NDArray[np.integer[Any]]
_Bool = npt.NDArray[np.bool_]
_Blob = bytes | bytearray | memoryview

class _Segments(TypedDict):
    v0: _F64
    v1: _F64
    center: _F64
    radius: _F64
    turn: _F64
    visible: _Bool
    b_coef: _F64
    bias: _F64
    c_group: _I64
    c_mask: _I64

class _Planes(TypedDict):
    normal: _F64
    dist: _F64
    b_coef: _F64
    c_group: _I64
    c_mask: _I64

class _Goals(TypedDict):
    p0: _F64
    p1: _F64
    team: _I64

class _Discs(TypedDict):
    pos: _F64
    radius: _F64
    inv_mass: _F64
    damping: _F64
    b_coef: _F64
    c_group: _I64
    c_mask: _I64
    obstacle: _Bool
    color: list[str | None]

class _StadiumDescription(TypedDict):
    segments: _Segments
    planes: _Planes
    goals: _Goals
    discs: _Discs
    ball_walls: _F64
    ball_radius: float
    player_radius: float
    spawn_distance: float
    kick_rate_limit: tuple[int, int, int]
    width: float | None
    height: float | None
    pitch: tuple[float, float, float] | None

@final
class VecEnv:
    def __new__(
        cls,
        n_envs: SupportsIndex,
        n_red: SupportsIndex,
        n_blue: SupportsIndex,
        step_limit: SupportsIndex = 2400,
        tick_skip: SupportsIndex = 8,
    ) -> VecEnv: ...
    @staticmethod
    def from_vxs(
        vxs: str,
        n_envs: SupportsIndex,
        n_red: SupportsIndex,
        n_blue: SupportsIndex,
        step_limit: SupportsIndex = 2400,
        tick_skip: SupportsIndex = 8,
    ) -> VecEnv: ...
    @property
    def n_envs(self) -> int: ...
    @property
    def n_players(self) -> int: ...
    @property
    def obs_dim(self) -> int: ...
    @property
    def player_max_speed(self) -> float: ...
    def teams(self) -> _I64: ...
    def reset_all(self) -> None: ...
    def reset_mask(self, mask: npt.NDArray[np.bool_]) -> None: ...
    def physics_step(self, actions: _I64) -> npt.NDArray[np.int8]: ...
    def rollout_bench(self, n_steps: SupportsIndex) -> int: ...
    def snapshot(self) -> tuple[_F64, _F64, _F64, _F64, _I64]: ...
    def set_state(
        self,
        ball_pos: _F64,
        ball_vel: _F64,
        player_pos: _F64,
        player_vel: _F64,
        steps: _I64 | None = None,
    ) -> None: ...
    def set_kick_rate_limit(self, min: SupportsIndex, cost: SupportsIndex, cap: SupportsIndex) -> None: ...
    def set_player_cmask(self, mask: SupportsIndex) -> None: ...
    def kick_state(self) -> tuple[_I64, _I64]: ...
    def goals(self) -> tuple[_F64, _F64, _I64]: ...
    def wall_segments(self) -> _F64: ...
    def obstacle_discs(self) -> _F64: ...
    def predict_ball(self, offsets: _Offsets) -> _F64: ...
    def team_observation(
        self,
        ball_pos: _F64,
        ball_vel: _F64,
        player_pos: _F64,
        player_vel: _F64,
        slots: _Offsets,
        pos_mul: float,
        vel_mul: float,
        pos_off: tuple[float, float],
        opp_goal: tuple[float, float],
        mirror: bool,
        offsets: _Offsets,
        out: npt.NDArray[np.float32] | None = None,
    ) -> npt.NDArray[np.float32]: ...
    def step_observe(
        self,
        actions: _I64,
        restart: _Bool | None,
        frames: Sequence[
            tuple[_Offsets, float, float, tuple[float, float], tuple[float, float], bool]
        ],
        offsets: _Offsets,
    ) -> tuple[npt.NDArray[np.int8], _F64, _F64, _F64, _F64, _I64, npt.NDArray[np.float32]]: ...
    def team_inputs(
        self, digits: _I64, slots: _Offsets, mirror: bool, kick_value: SupportsIndex, out: _I64
    ) -> bool: ...
    def save_state(self, mask: _Bool | None = None) -> bytes: ...
    def load_state(self, blob: _Blob, mask: _Bool | None = None) -> None: ...
    def digest(self) -> npt.NDArray[np.uint64]: ...
    def __reduce__(
        self,
    ) -> tuple[Callable[..., VecEnv], tuple[str, int, int, int, int, int], tuple[str, bytes]]: ...
    def __setstate__(self, state: tuple[str, _Blob]) -> None: ...
    def __copy__(self) -> VecEnv: ...
    def __deepcopy__(self, memo: object) -> VecEnv: ...

def disc_disc(
    pa: _Vec2,
    pb: _Vec2,
    va: _Vec2,
    vb: _Vec2,
    ra: float,
    rb: float,
    ima: float,
    imb: float,
    ba: float,
    bb: float,
) -> tuple[_Vec2, _Vec2, _Vec2, _Vec2]: ...
def disc_plane(
    pd: _Vec2, normal: _Vec2, v: _Vec2, dist: float, radius: float, bd: float, bp: float
) -> tuple[_Vec2, _Vec2]: ...
def disc_vertex(
    pd: _Vec2, pv: _Vec2, v: _Vec2, radius: float, bd: float, bv: float
) -> tuple[_Vec2, _Vec2]: ...
def segment_no_curve(pd: _Vec2, v0: _Vec2, v1: _Vec2) -> tuple[float, _Vec2] | None: ...
def segment_curve(
    pd: _Vec2, c: _Vec2, cr: float, t0: _Vec2, t1: _Vec2, curve: float
) -> tuple[float, _Vec2] | None: ...
def describe_stadium(vxs: str) -> _StadiumDescription: ...
def set_num_threads(n: SupportsIndex | None) -> None: ...
def get_num_threads() -> int: ...
