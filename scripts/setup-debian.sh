#!/usr/bin/env bash
# Installs everything the build, the tests and the tools need on a Debian machine.
set -euo pipefail
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
PACKAGES=(
    build-essential cmake ninja-build clang libclang-rt-14-dev clang-format
    googletest libgtest-dev libbenchmark-dev valgrind
    libopenimageio-dev openimageio-tools libopenvdb-dev libopenvdb-tools libnanovdb-dev libcli11-dev
    libboost-dev nlohmann-json3-dev
    pybind11-dev python3-dev python3-numpy python3-pytest
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine64
    g++-multilib qemu-user
)
missing=()
for package in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
        missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
    $SUDO apt-get update
    $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
