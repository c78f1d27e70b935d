#!/usr/bin/env bash
# Sets up a Debian machine, then builds and runs every test: an AddressSanitizer +
# UndefinedBehaviorSanitizer build, bounded fuzzing runs, a ThreadSanitizer build of the
# concurrency tests, the release build, a 32-bit x86 build and the Windows builds, all with
# warnings as errors.
# Each build is a preset of CMakePresets.json, in build/<preset>.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh

JOBS=${JOBS:-$(nproc)}
# configure_build_test PRESET: the configure, build and test presets of that name.
configure_build_test() {
    cmake --preset "$1"
    cmake --build --preset "$1" -j "$JOBS"
    ctest --preset "$1" -j "$JOBS"
}

configure_build_test asan

# Fuzz the loader, the node and the tool's input parsers for a minute each (clang, ASan +
# UBSan, libFuzzer); fails on any finding.
bash fuzz/run-fuzzers.sh 60

configure_build_test tsan
# Before the Windows builds: its tool draws their icons.
configure_build_test release
# The 32-bit module's own code run: its arithmetic, pointers and address space.
configure_build_test linux32

bash scripts/test-windows.sh
