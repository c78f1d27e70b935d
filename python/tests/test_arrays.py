"""Volumes as arrays: write and read, the voxels' view, and floats mapped to bytes."""

import gc
import os
import subprocess

import numpy as np
import pytest

import voxlum
from conftest import EDGE, random_voxels, same_bits, volume_file_bytes


@pytest.mark.parametrize("channels", [3, 4])
def test_voxels_round_trip_exactly(tmp_path, channels):
    voxels = random_voxels(channels, 10 + channels)
    path = tmp_path / "round.vol"
    voxlum.write(path, voxels)
    volume = voxlum.read(path)
    assert volume.channels == channels
    assert same_bits(volume.voxels, voxels)
    assert same_bits(volume.to_array(), voxels)


@pytest.mark.parametrize("channels", [3, 4])
def test_the_file_holds_x_fastest_and_reads_back_indexed_z_y_x(tmp_path, channels):
    voxels = random_voxels(channels, 20)
    written = tmp_path / "written.vol"
    voxlum.write(written, voxels)
    assert written.read_bytes() == volume_file_bytes(voxels.tobytes(), channels)

    body = np.random.default_rng(21).integers(0, 256, EDGE**3 * channels, np.uint8)
    made = tmp_path / "made.vol"
    made.write_bytes(volume_file_bytes(body.tobytes(), channels))
    view = voxlum.read(made).voxels
    for z, y, x in [(0, 0, 1), (0, 1, 0), (1, 0, 0), (127, 5, 126)]:
        start = ((z * EDGE + y) * EDGE + x) * channels
        assert view[z, y, x].tolist() == body[start : start + channels].tolist()


def strided_views(voxels):
    """The same voxels in other memory layouts."""
    return {
        "Fortran order": np.asfortranarray(voxels),
        "reversed axes": np.flip(np.flip(voxels, 0).copy(), 0),
        "every other byte": np.repeat(voxels, 2, axis=3)[..., ::2],
        "channels first": np.moveaxis(np.ascontiguousarray(np.moveaxis(voxels, 3, 0)), 0, 3),
    }


def test_any_strides_write_the_same_file(tmp_path):
    voxels = random_voxels(4, 30)
    voxlum.write(tmp_path / "plain.vol", voxels)
    for name, view in strided_views(voxels).items():
        assert not view.flags.c_contiguous
        voxlum.write(tmp_path / "strided.vol", view)
        written = (tmp_path / "strided.vol").read_bytes()
        assert written == (tmp_path / "plain.vol").read_bytes(), name


BAD_VOXELS = {
    "float32": (np.zeros((EDGE, EDGE, EDGE, 4), np.float32), TypeError, "from_float"),
    "float64": (np.zeros((EDGE, EDGE, EDGE, 3)), TypeError, "from_float"),
    "int16": (np.zeros((EDGE, EDGE, EDGE, 4), np.int16), TypeError, "uint8"),
    "bool": (np.zeros((EDGE, EDGE, EDGE, 4), bool), TypeError, "uint8"),
    "two channels": (np.zeros((EDGE, EDGE, EDGE, 2), np.uint8), ValueError, "shape"),
    "five channels": (np.zeros((EDGE, EDGE, EDGE, 5), np.uint8), ValueError, "shape"),
    "no channel axis": (np.zeros((EDGE, EDGE, EDGE), np.uint8), ValueError, "shape"),
    "short x": (np.zeros((EDGE, EDGE, EDGE - 1, 4), np.uint8), ValueError, "shape"),
    "64 cube": (np.zeros((64, 64, 64, 4), np.uint8), ValueError, "shape"),
    "not an array": (object(), TypeError, "voxels"),
}


@pytest.mark.parametrize("voxels, error, named", BAD_VOXELS.values(), ids=BAD_VOXELS.keys())
def test_refused_voxels_write_nothing(tmp_path, voxels, error, named):
    kept = tmp_path / "kept.vol"
    voxlum.write(kept, random_voxels(3, 40))
    before = kept.read_bytes()
    for target in [tmp_path / "new.vol", kept]:
        with pytest.raises(error, match=named):
            voxlum.write(target, voxels)
    assert sorted(os.listdir(tmp_path)) == ["kept.vol"]
    assert kept.read_bytes() == before


def test_a_folder_that_cannot_be_written_raises_os_error_and_leaves_nothing(tmp_path):
    with pytest.raises(OSError, match="missing"):
        voxlum.write(tmp_path / "missing" / "a.vol", random_voxels(4, 41))
    (tmp_path / "taken.vol").mkdir()
    with pytest.raises(OSError, match="taken.vol"):
        voxlum.write(tmp_path / "taken.vol", random_voxels(4, 41))
    assert sorted(os.listdir(tmp_path)) == ["taken.vol"]


def test_the_view_is_the_volumes_own_read_only_memory_and_keeps_it_alive(loaded):
    volume, voxels = loaded(4)
    view = volume.voxels
    assert np.shares_memory(view, volume.voxels)
    assert view.base is volume
    with pytest.raises(ValueError):
        view[0, 0, 0, 0] = 1
    with pytest.raises(ValueError):
        view.setflags(write=True)
    copy = volume.to_array()
    assert not np.shares_memory(copy, view)
    copy[0, 0, 0, 0] ^= 0xFF
    del volume, copy
    gc.collect()
    assert same_bits(view, voxels)


FLOAT_BYTES = [
    (0.0, 0),
    (1.0, 255),
    (0.5, 128),  # 127.5 rounds away from zero
    (0.2, 51),
    (-0.0, 0),
    (-0.3, 0),
    (1.7, 255),
    (np.inf, 255),
    (-np.inf, 0),
    (np.nan, 0),
]


def test_from_float_maps_the_unit_range_to_bytes_rounding_clamping_and_zeroing_nan():
    values = np.array([value for value, _ in FLOAT_BYTES], np.float32).reshape(2, 5)
    mapped = voxlum.from_float(values)
    assert mapped.dtype == np.uint8 and mapped.shape == values.shape
    assert mapped.ravel().tolist() == [byte for _, byte in FLOAT_BYTES]


def test_from_float_rounds_other_float_types_to_float32_first():
    values = np.random.default_rng(50).uniform(-0.1, 1.1, (1000, 7))
    assert same_bits(voxlum.from_float(values), voxlum.from_float(values.astype(np.float32)))
    with pytest.raises(TypeError, match="floating-point"):
        voxlum.from_float(np.zeros(3, np.uint8))


def foreign_grid_bytes(values):
    """A Mitsuba-style float32 grid of the unit cube holding `values` [z, y, x, channel]."""
    header = bytearray(48)
    header[0:4] = b"VOL\x03"
    fields = [1, EDGE, EDGE, EDGE, values.shape[3]]
    header[4:24] = np.array(fields, "<i4").tobytes()
    header[24:48] = np.array([0, 0, 0, 1, 1, 1], "<f4").tobytes()
    return bytes(header) + values.astype("<f4").tobytes()


@pytest.mark.skipif(not os.environ.get("VOXLUM_TOOL"), reason="needs the voxlum tool")
def test_from_float_makes_the_bytes_voxlum_convert_makes(tmp_path):
    values = np.random.default_rng(51).uniform(-0.2, 1.2, (EDGE, EDGE, EDGE, 4)).astype(np.float32)
    values.reshape(-1)[::997] = np.nan
    values.reshape(-1)[1::991] = np.inf
    (tmp_path / "grid.vol").write_bytes(foreign_grid_bytes(values))
    subprocess.run(
        [os.environ["VOXLUM_TOOL"], "convert", "grid.vol", "-o", "converted.vol"],
        cwd=tmp_path, check=True, capture_output=True,
    )
    assert same_bits(voxlum.read(tmp_path / "converted.vol").voxels, voxlum.from_float(values))
