"""The package as users get it: installed into a module folder, documented and typed."""

import ast
import os
import pathlib
import subprocess
import sys

import numpy as np
import pytest

import voxlum

BUILD = os.environ.get("VOXLUM_BUILD_DIR")


def listing(folder):
    return sorted(str(path.relative_to(folder)) for path in folder.rglob("*"))


@pytest.mark.skipif(not BUILD, reason="needs the build folder")
def test_the_installed_module_imports_with_only_its_folder_on_the_python_path(tmp_path):
    subprocess.run(
        [os.environ.get("VOXLUM_CMAKE_COMMAND", "cmake"), "--install", BUILD,
         "--prefix", str(tmp_path / "module"), "--component", "python"],
        check=True, capture_output=True,
    )
    installed = tmp_path / "module" / "python"
    assert listing(installed) == listing(pathlib.Path(voxlum.__file__).parent.parent)
    script = (
        "import numpy as np, voxlum; print(voxlum.__file__); "
        "voxlum.write('x.vol', np.full((128, 128, 128, 3), 51, np.uint8)); "
        "print(voxlum.read('x.vol').sample(np.zeros((1, 3)))[0].tolist()); "
        "voxlum.convert('x.vol', 'slice_%03d.png')"
    )
    environment = {"PYTHONPATH": str(installed), "PYTHONDONTWRITEBYTECODE": "1"}
    run = subprocess.run([sys.executable, "-c", script], cwd=tmp_path, env=environment,
                         check=True, capture_output=True, text=True)
    module_file, samples = run.stdout.splitlines()
    assert pathlib.Path(module_file).is_relative_to(installed)
    assert samples == str([float(np.float32(51 / 255))] * 3 + [1.0])
    # Slice images go through the image module installed beside the extension.
    assert len(list(tmp_path.glob("slice_*.png"))) == 128


def stub_names():
    stub = pathlib.Path(voxlum.__file__).with_name("__init__.pyi")
    tree = ast.parse(stub.read_text())
    names = set()
    for node in tree.body:
        if isinstance(node, (ast.ClassDef, ast.FunctionDef)):
            names.add(node.name)
            names.update(f"{node.name}.{member.name}" for member in getattr(node, "body", [])
                         if isinstance(member, ast.FunctionDef))
        elif isinstance(node, ast.AnnAssign) and node.target.id.startswith("__"):
            names.add(node.target.id)
    return names


def public_names():
    names = set(voxlum.__all__)
    for name in voxlum.__all__:
        value = getattr(voxlum, name)
        if isinstance(value, type) and not issubclass(value, BaseException):
            names.update(f"{name}.{member}" for member in vars(value) if not member.startswith("_"))
    return names


def test_every_public_name_is_in_the_stubs_and_documented():
    assert public_names() == stub_names()
    for name in public_names() - {"__version__"}:
        owner, _, member = name.partition(".")
        value = getattr(getattr(voxlum, owner), member) if member else getattr(voxlum, owner)
        # Compiled functions' docstrings start with their signatures.
        text = [line for line in (value.__doc__ or "").splitlines()
                if not line.startswith(f"{member or owner}(")]
        assert "".join(text).strip(), name
    assert voxlum.VolumeError("raised elsewhere").code is None
