"""Files the node refuses raise VolumeError with the loader's code and the node's words."""

import pathlib

import numpy as np
import pytest

import voxlum
from conftest import EDGE, volume_file_bytes

RGBA_BODY = bytes(EDGE**3 * 4)
LOADABLE = volume_file_bytes(RGBA_BODY, 4)
NOT_A_VOLUME_NAME = "The texture file must be a volume texture (.vol)."


# name, the file's bytes (None: no file), code, the node's error line; every refusal's words are
# held against the node's in tests/python/ModuleCoreTest.cpp.
REFUSED = {
    "upper-case extension": ("cloud.VOL", LOADABLE, None, NOT_A_VOLUME_NAME),
    "missing": ("missing.vol", None, -1, "Opening file failed."),
    "wrong version": ("version.vol", volume_file_bytes(b"", 4, version=3), -6, "Unknown error."),
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


@pytest.mark.parametrize("as_given", [str, pathlib.Path, lambda p: str(p).encode()])
def test_paths_are_str_bytes_or_path_like(volume_on_disk, as_given):
    path, voxels = volume_on_disk(3)
    assert voxlum.read(as_given(path)).voxels.tobytes() == voxels.tobytes()


def test_a_path_with_a_null_byte_is_refused(volume_on_disk):
    path, _ = volume_on_disk(4)
    with pytest.raises(ValueError, match="null"):
        voxlum.read(f"{path}\0.vol")
    with pytest.raises(ValueError, match="null"):
        voxlum.write(f"{path}\0.vol", np.zeros((EDGE, EDGE, EDGE, 4), np.uint8))
