"""convert, info, compare and make agree with the voxlum tool's commands on the same files."""

import json
import os
import shlex
import shutil
import subprocess

import numpy as np
import pytest

import voxlum

TOOL = os.environ.get("VOXLUM_TOOL")
pytestmark = pytest.mark.skipif(TOOL is None, reason="the voxlum tool is not built")


def run_tool(folder, command, expect=0):
    done = subprocess.run([TOOL, *shlex.split(command)], cwd=folder, capture_output=True,
                          text=True)
    assert done.returncode == expect, done.stderr
    return done.stdout


@pytest.fixture(scope="module", autouse=True)
def written_frames(tmp_path_factory):
    """OpenVDB frames of clouds of different seeds, written by the tool once for every test."""
    folder = tmp_path_factory.mktemp("frames")
    for frame in (1, 2, 3):
        run_tool(folder, f"make cloud --seed {frame} -o seed{frame}.vol")
        run_tool(folder, f"convert seed{frame}.vol -o smoke.{frame:04d}.vdb")
    FRAMES.append(folder)


FRAMES = []


def cloud_sequence(folder, frames=(1, 2, 3)):
    for frame in frames:
        name = f"smoke.{frame:04d}.vdb"
        shutil.copyfile(FRAMES[-1] / name, folder / name)


def raw_cube(folder):
    (folder / "cube.raw").write_bytes(bytes(range(256)) * 16)


# name, files to make, the command line, the same work from Python, the files both write
# (the command line's names; Python's are prefixed "py-").
SAME_WORK = {
    "make marble": (
        None, "make marble --seed 5 --frequency 2 --channels 3 -o made.vol",
        lambda: voxlum.make("marble", "py-made.vol", seed=5, frequency=2, channels=3),
        ["made.vol"]),
    "vol to vdb": (
        lambda folder: run_tool(folder, "make gradient -o g.vol"),
        "convert g.vol -o g.vdb",
        lambda: voxlum.convert("g.vol", "py-g.vdb"),
        ["g.vdb"]),
    "raw, tiled, axes swapped": (
        raw_cube, "convert cube.raw --raw 16x16x16 --tile --swap-yz --flip-x -o cube.vol",
        lambda: voxlum.convert("cube.raw", "py-cube.vol", raw=(16, 16, 16), tile=True,
                               swap_yz=True, flip_x=True),
        ["cube.vol"]),
    "OpenVDB sequence, automatic range": (
        cloud_sequence, "convert smoke.####.vdb -o out.####.vol --range auto --frames 1-3",
        lambda: voxlum.convert("smoke.####.vdb", "py-out.####.vol", range="auto",
                               frames=range(1, 4)),
        ["out.0001.vol", "out.0002.vol", "out.0003.vol"]),
    "OpenVDB, a channel map over a world box": (
        cloud_sequence, "convert smoke.0001.vdb --grid rgb=color --grid a=density "
                        "--bounds 0.1 0 0 0.6 1 0.5 --range a=0 2 -o mapped.vol",
        lambda: voxlum.convert("smoke.0001.vdb", "py-mapped.vol",
                               grid={"rgb": "color", "a": "density"},
                               bounds=(0.1, 0, 0, 0.6, 1, 0.5), range={"a": (0, 2)}),
        ["mapped.vol"]),
}


@pytest.mark.parametrize("make_files, command, python, written", SAME_WORK.values(),
                         ids=SAME_WORK.keys())
def test_python_writes_what_the_command_line_writes(tmp_path, monkeypatch, make_files, command,
                                                    python, written):
    monkeypatch.chdir(tmp_path)
    if make_files:
        make_files(tmp_path)
    run_tool(tmp_path, command)
    python()
    for name in written:
        if name.endswith(".vdb"):  # OpenVDB files carry a unique id of their own
            assert voxlum.compare(name, f"py-{name}")["voxels_differing"] == 0
        else:
            assert (tmp_path / f"py-{name}").read_bytes() == (tmp_path / name).read_bytes(), name


def test_make_returns_the_volume_it_writes(tmp_path):
    made = voxlum.make("checker", tmp_path / "c.vol", cells=8)
    assert made.voxels.tobytes() == voxlum.read(tmp_path / "c.vol").voxels.tobytes()
    assert voxlum.make("checker", cells=8).voxels.tobytes() == made.voxels.tobytes()


def test_a_sequence_reports_its_files_and_the_box_bounds_prints(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    cloud_sequence(tmp_path)
    result = voxlum.convert("smoke.####.vdb", "out.####.vol", threads=2)
    assert [file["output"] for file in result["files"]] == [
        "out.0001.vol", "out.0002.vol", "out.0003.vol"]
    printed = json.loads(run_tool(tmp_path, "bounds smoke.####.vdb --json"))
    assert result["bounds"] == printed["min"] + printed["max"]
    assert all(file["box"] == result["bounds"] for file in result["files"])


@pytest.mark.parametrize("contents", [None, b"VOLU" + bytes(100)], ids=["loadable", "refused"])
def test_info_is_what_info_json_prints(tmp_path, contents):
    if contents is None:
        run_tool(tmp_path, "make cloud --channels 3 -o v.vol")
    else:
        (tmp_path / "v.vol").write_bytes(contents)
    printed = run_tool(tmp_path, "info --json v.vol", expect=0 if contents is None else 1)
    described = voxlum.info(tmp_path / "v.vol")
    described["file"] = "v.vol"
    assert described == json.loads(printed)


@pytest.mark.parametrize("fail, failcount", [(0, 0), (3, 0), (0, 300000)])
def test_compare_finds_what_compare_prints(tmp_path, fail, failcount):
    run_tool(tmp_path, "make cloud --seed 1 -o a.vol")
    voxels = voxlum.read(tmp_path / "a.vol").to_array()
    voxels[::3, ::5, ::7, 1] ^= 2
    voxlum.write(tmp_path / "b.vol", voxels)
    result = voxlum.compare(tmp_path / "a.vol", tmp_path / "b.vol", fail=fail,
                            failcount=failcount)
    printed = run_tool(tmp_path, f"compare a.vol b.vol --fail {fail} --failcount {failcount}",
                       expect=0 if result["within"] else 4)
    green = result["channels"]["green"]
    assert f"green    {green['largest']:18d}  {green['differing']:16d}" in printed
    assert f"voxels differing: {result['voxels_differing']} of" in printed
    assert result["over_tolerance"] == (0 if fail >= 2 else result["voxels_differing"])
    assert len(result["listed"]) == min(10, result["over_tolerance"])


# The call, the exception, words of its message; nothing is written.
REFUSED = {
    "box options on a .vol": (lambda: voxlum.convert("a.vol", "o.vol", bounds="union"),
                              ValueError, "bounds: applies to OpenVDB inputs only"),
    "index bounds inverted": (lambda: voxlum.convert("a.vol", "o.vol",
                                                     index_bounds=(0, 0, 0, -1, 5, 5)),
                              ValueError, "index_bounds"),
    "a raw size out of range": (lambda: voxlum.convert("a.vol", "o.vol", raw=(0, 4, 4)),
                                ValueError, "raw: expected WIDTHxHEIGHTxDEPTH"),
    "a malformed frame list": (lambda: voxlum.convert("s.####.vol", "o.####.vol",
                                                      frames="5-1"),
                               ValueError, "frames: a range runs from low to high"),
    "an unknown output format": (lambda: voxlum.convert("a.vol", "o.xyz"), ValueError,
                                 "choose it with to="),
    "odd checker cells": (lambda: voxlum.make("checker", "o.vol", cells=3), ValueError,
                          "cells: must be an even number"),
    "a missing input": (lambda: voxlum.convert("missing.vol", "o.vol"), voxlum.VolumeError,
                        "missing.vol: no such file"),
    "a missing file to compare": (lambda: voxlum.compare("a.vol", "missing.vol"),
                                  voxlum.VolumeError, "missing.vol: no such file"),
}


@pytest.mark.parametrize("call, error, words", REFUSED.values(), ids=REFUSED.keys())
def test_bad_options_and_inputs_raise_and_write_nothing(tmp_path, monkeypatch, call, error,
                                                        words):
    monkeypatch.chdir(tmp_path)
    voxlum.write("a.vol", np.zeros((128, 128, 128, 4), np.uint8))
    with pytest.raises(error, match=words):
        call()
    assert sorted(os.listdir(tmp_path)) == ["a.vol"]


def test_a_failed_frame_is_listed_and_the_others_are_written(tmp_path, monkeypatch):
    monkeypatch.chdir(tmp_path)
    cloud_sequence(tmp_path, frames=(1, 3))
    with pytest.raises(voxlum.VolumeError, match="1 of 3 frames failed; smoke.0002.vdb"):
        voxlum.convert("smoke.####.vdb", "out.####.vol", frames=[1, 2, 3])
    assert (tmp_path / "out.0001.vol").exists() and (tmp_path / "out.0003.vol").exists()
