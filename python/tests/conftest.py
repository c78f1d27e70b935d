"""What the module's tests share: volume files made byte by byte, and the trilinear sampling
algorithm transcribed step by step into NumPy, independently of the module."""

import numpy as np
import pytest

import voxlum

EDGE = 128
f32 = np.float32
f64 = np.float64


def volume_file_bytes(body, channels, magic=b"VOLU", version=4, edge=EDGE, encoding=1):
    """A ".vol" file: the 4096-byte header with these fields, then `body`."""
    header = bytearray(4096)
    header[0 : len(magic)] = magic
    for offset, value in ((4, version), (268, edge), (272, channels), (276, encoding)):
        header[offset : offset + 4] = value.to_bytes(4, "little", signed=True)
    return bytes(header) + bytes(body)


def random_voxels(channels, seed):
    return np.random.default_rng(seed).integers(0, 256, (EDGE, EDGE, EDGE, channels), np.uint8)


@pytest.fixture
def volume_on_disk(tmp_path):
    """Writes random voxels of `channels` channels byte by byte; returns (path, voxels)."""

    def make(channels, seed=1):
        voxels = random_voxels(channels, seed)
        path = tmp_path / f"random{channels}-{seed}.vol"
        path.write_bytes(volume_file_bytes(voxels.tobytes(), channels))
        return path, voxels

    return make


def same_bits(a, b):
    return a.dtype == b.dtype and a.shape == b.shape and a.tobytes() == b.tobytes()


def wrapped(coordinates):
    """Folds float32 coordinates into [0, 1] with period 1 as the node does: a float from 2^23 up
    is whole, a negative remainder plus 1 is rounded once to float, NaN and infinity give 0."""
    c = np.asarray(coordinates, f32)
    with np.errstate(invalid="ignore"):
        fraction = np.where(np.abs(c) < f32(2**23), c - np.trunc(c), f32(0)).astype(f32)
    remainder = np.copysign(fraction, c)
    return np.where(remainder < 0, (remainder.astype(f64) + 1.0).astype(f32), remainder)


def reference_samples(voxels, points):
    """r, g, b, a at texture coordinates: every corner divided by 255 in double, each blend
    a * (1 - t) + b * t in double rounded once to float."""
    decoded = (voxels.astype(f64) / 255.0).astype(f32)
    if decoded.shape[3] == 3:
        decoded = np.concatenate([decoded, np.ones(decoded.shape[:3] + (1,), f32)], axis=3)
    scaled = [wrapped(points[:, axis]) * f32(EDGE) for axis in range(3)]
    low = [np.floor(s).astype(np.int64) % EDGE for s in scaled]
    high = [np.ceil(s).astype(np.int64) % EDGE for s in scaled]
    (fx, fy, fz) = [(s - np.floor(s)).astype(f32)[:, None] for s in scaled]

    def corner(x, y, z):
        return decoded[z, y, x]

    def blend(a, b, t):
        weighted = a.astype(f64) * (f32(1) - t).astype(f64) + b.astype(f64) * t.astype(f64)
        return weighted.astype(f32)

    (x0, y0, z0), (x1, y1, z1) = low, high
    near = blend(
        blend(corner(x0, y0, z0), corner(x1, y0, z0), fx),
        blend(corner(x0, y1, z0), corner(x1, y1, z0), fx),
        fy,
    )
    far = blend(
        blend(corner(x0, y0, z1), corner(x1, y0, z1), fx),
        blend(corner(x0, y1, z1), corner(x1, y1, z1), fx),
        fy,
    )
    return blend(near, far, fz)


def placed(points, matrix):
    """World points placed as the node places them: (x, y, z, 1) times the matrix, in float32,
    summed left to right."""
    p = np.asarray(points, f32)
    m = np.asarray(matrix, f32)
    columns = [
        p[:, 0] * m[0, c] + p[:, 1] * m[1, c] + p[:, 2] * m[2, c] + f32(1) * m[3, c]
        for c in range(3)
    ]
    return np.stack(columns, axis=1).astype(f32)


@pytest.fixture
def loaded(volume_on_disk):
    """A volume read through the module, with the voxels its file was made of."""

    def read(channels, seed=1):
        path, voxels = volume_on_disk(channels, seed)
        return voxlum.read(path), voxels

    return read
