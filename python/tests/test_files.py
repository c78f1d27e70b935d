"""Files the node refuses raise VolumeError with the loader's code and the node's words."""

import pathlib

import numpy as np
import pytest

import voxlum
from conftest import EDGE, volume_file_bytes

RGBA_BODY = bytes(EDGE**3 * 4)
LOADABLE = volume_file_bytes(RGBA_BODY, 4)
NOT_A_VOLUME_NAME = "The texture file must be a volume texture (.vol)."


def header_only(**fields):
    return volume_file_bytes(b"", fields.pop("channels", 4), **fields)


# name, the file's bytes (None: no file), code, the node's error line
REFUSED = {
    "upper-case extension": ("cloud.VOL", LOADABLE, None, NOT_A_VOLUME_NAME),
    "no extension": ("cloud", LOADABLE, None, NOT_A_VOLUME_NAME),
    "missing": ("missing.vol", None, -1, "Opening file failed."),
    "wrong magic": ("magic.vol", header_only(magic=b"VOLX"), -4, "Unknown error."),
    "empty": ("empty.vol", b"", -4, "Unknown error."),
    "short header": ("header.vol", volume_file_bytes(b"", 4)[:100], -5,
                     "Reading file header failed. Bytes read: 100"),
    "wrong version": ("version.vol", header_only(version=3), -6, "Unknown error."),
    "wrong encoding": ("encoding.vol", header_only(encoding=2), -7, "Unknown error."),
    "edge 64": ("edge.vol", header_only(edge=64), -8, "Unknown error."),
    "two channels": ("two.vol", header_only(channels=2), -8, "Unknown error."),
    "body one byte short": ("body.vol", volume_file_bytes(RGBA_BODY[:-1], 4), -2,
                            f"Reading file failed. Bytes read: {EDGE**3 * 4 - 1}"),
}


@pytest.mark.parametrize("name, contents, code, message", REFUSED.values(), ids=REFUSED.keys())
def test_refused_files_raise_the_loaders_code_and_the_nodes_message(
    tmp_path, name, contents, code, message
):
    path = tmp_path / name
    if contents is not None:
        path.write_bytes(contents)
    with pytest.raises(voxlum.VolumeError) as refused:
        voxlum.read(path)
    assert refused.value.code == code
    assert str(refused.value) == message


def test_a_folder_named_like_a_volume_cannot_be_opened(tmp_path):
    (tmp_path / "folder.vol").mkdir()
    with pytest.raises(voxlum.VolumeError, match="Opening file failed") as refused:
        voxlum.read(tmp_path / "folder.vol")
    assert refused.value.code == -1


@pytest.mark.parametrize("as_given", [str, pathlib.Path, lambda p: str(p).encode()])
def test_paths_are_str_bytes_or_path_like(volume_on_disk, as_given):
    path, voxels = volume_on_disk(3)
    assert voxlum.read(as_given(path)).voxels.tobytes() == voxels.tobytes()


def test_a_path_with_a_null_byte_is_refused_before_any_file_is_touched(volume_on_disk):
    path, _ = volume_on_disk(4)
    with pytest.raises(ValueError, match="null"):
        voxlum.read(f"{path}\0.vol")
    with pytest.raises(ValueError, match="null"):
        voxlum.write(f"{path}\0.vol", np.zeros((EDGE, EDGE, EDGE, 4), np.uint8))
