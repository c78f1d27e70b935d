#!/usr/bin/env bash
# Sets up a Debian machine, builds everything, makes a sample cloud volume and renders it
# through the Voxlum plug-in loaded into the stand-in host.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j "$(nproc)" --target voxlum
mkdir -p out
build/release/tools/voxlum make cloud --seed 7 -o out/cloud.vol
build/release/tools/voxlum info out/cloud.vol
build/release/tools/voxlum render out/cloud.vol --view sphere --size 512 -o out/cloud.png
echo "picture: $(realpath out/cloud.png)"
