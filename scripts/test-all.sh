#!/usr/bin/env bash
# Sets up a Debian machine, then builds and runs every test: an AddressSanitizer +
# UndefinedBehaviorSanitizer build, bounded fuzzing runs, a ThreadSanitizer build of the
# concurrency tests, the release build and the Windows builds, all with warnings as errors.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh

JOBS=${JOBS:-$(nproc)}
# configure_and_build FOLDER [TARGET...] -- [CMAKE OPTION...]
configure_and_build() {
    local folder=$1
    shift
    local targets=()
    while [ "$1" != "--" ]; do
        targets+=(--target "$1")
        shift
    done
    shift
    cmake -S . -B "build/$folder" -G Ninja -DVOXLUM_WERROR=ON "$@"
    cmake --build "build/$folder" -j "$JOBS" "${targets[@]}"
}

configure_and_build asan -- -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
    -DVOXLUM_SANITIZE=address,undefined -DVOXLUM_BUILD_TOOLS=OFF
ctest --test-dir build/asan -j "$JOBS" --output-on-failure

# Fuzz the loader and the node for a minute each (clang, ASan + UBSan, libFuzzer); fails on any
# finding.
bash fuzz/run-fuzzers.sh 60

configure_and_build tsan volume_tests hostile_tests -- -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVOXLUM_SANITIZE=thread -DVOXLUM_BUILD_TOOLS=OFF
ctest --test-dir build/tsan -j "$JOBS" --output-on-failure -R Concurrency

configure_and_build release -- -DCMAKE_BUILD_TYPE=Release
ctest --test-dir build/release -j "$JOBS" --output-on-failure

bash scripts/test-windows.sh
