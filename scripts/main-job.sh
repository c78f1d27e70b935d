#!/usr/bin/env bash
# Sets up a Debian machine, builds everything and runs the sample job.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
cmake --build build/release -j "$(nproc)"
ctest --test-dir build/release -R 'Loader|Sampler' --output-on-failure
