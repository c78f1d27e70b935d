import os
from typing import Any, Dict, Iterable, Mapping, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str

_Path = Union[str, bytes, os.PathLike]

class VolumeError(Exception):
    """A volume file the Voxlum node refuses; the text is the node's error line."""

    code: Optional[int]
    """The loader's negative code, or None when the name does not end in ".vol"."""

class Volume:
    """A volume read with read(): its voxels and the node's sampler."""

    @property
    def channels(self) -> int:
        """Bytes per voxel: 3 (RGB) or 4 (RGBA)."""
    @property
    def voxels(self) -> npt.NDArray[np.uint8]:
        """Read-only view, shape (128, 128, 128, channels), indexed [z, y, x, channel]."""
    def to_array(self) -> npt.NDArray[np.uint8]:
        """A writeable copy of the voxels."""
    def sample(
        self, points: npt.ArrayLike, placement: Optional[npt.ArrayLike] = None
    ) -> npt.NDArray[np.float32]:
        """The node's r, g, b, a at (N, 3) points, shape (N, 4), bit for bit."""

def read(path: _Path) -> Volume:
    """Reads a ".vol" file as the Voxlum node does; raises VolumeError when it refuses it."""

def write(path: _Path, voxels: npt.ArrayLike) -> None:
    """Writes uint8 voxels of shape (128, 128, 128, 3 or 4) to a ".vol" file, atomically."""

def from_float(values: npt.ArrayLike) -> npt.NDArray[np.uint8]:
    """Bytes from values whose range [0, 1] maps to 0..255, as voxlum convert maps them."""

_Range = Union[str, Tuple[float, float]]

def convert(
    source: _Path,
    target: _Path,
    *,
    to: Optional[str] = None,
    channels: Optional[int] = None,
    raw: Optional[Sequence[int]] = None,
    raw_channels: int = 1,
    grid: Union[None, str, Mapping[str, str]] = None,
    bounds: Union[None, str, Sequence[float]] = None,
    index_bounds: Optional[Sequence[int]] = None,
    range: Union[None, _Range, Mapping[str, _Range]] = None,
    tile: bool = False,
    flip_x: bool = False,
    flip_y: bool = False,
    flip_z: bool = False,
    swap_yz: bool = False,
    frames: Union[None, str, Iterable[int]] = None,
    threads: int = 0,
) -> Dict[str, Any]:
    """Converts a volume or a sequence as `voxlum convert` does; see help(voxlum.convert)."""

def info(path: _Path) -> Dict[str, Any]:
    """The object `voxlum info --json` prints for a file."""

def compare(first: _Path, second: _Path, *, fail: int = 0, failcount: int = 0) -> Dict[str, Any]:
    """How far apart two volumes are, voxel by voxel, as `voxlum compare` finds it."""

def make(
    pattern: str,
    path: Optional[_Path] = None,
    *,
    channels: int = 4,
    seed: int = 1,
    cells: int = 4,
    frequency: int = 4,
) -> Volume:
    """A procedural volume (cloud, marble, checker, gradient) as `voxlum make` makes it."""
