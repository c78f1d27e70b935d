"""Voxlum volumes in Python: ".vol" files as NumPy arrays, and the Voxlum node's own sampler.

A volume is 128 x 128 x 128 voxels of 3 (RGB) or 4 (RGBA) bytes. As arrays its voxels are
indexed [z, y, x, channel], so that x is fastest, as in the file::

    import numpy as np, voxlum
    voxels = np.zeros((128, 128, 128, 4), np.uint8); voxels[..., 0] = np.arange(128)
    voxlum.write("ramp.vol", voxels)
    volume = voxlum.read("ramp.vol")
    colours = volume.sample(np.random.rand(1000, 3).astype(np.float32))  # (1000, 4) r, g, b, a

``Volume.sample`` gives bit for bit what the plug-in renders at those points. ``convert``,
``info``, ``compare`` and ``make`` do what the voxlum tool's commands of those names do, through
the same code, with its options as keyword arguments.
"""

from ._voxlum import (
    Volume,
    VolumeError,
    __version__,
    compare,
    convert,
    from_float,
    info,
    make,
    read,
    write,
)

__all__ = [
    "Volume",
    "VolumeError",
    "compare",
    "convert",
    "from_float",
    "info",
    "make",
    "read",
    "write",
    "__version__",
]
