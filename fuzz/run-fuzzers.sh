#!/usr/bin/env bash
# Builds the fuzz targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer, libFuzzer) and
# runs each for a bounded time over a generated seed corpus. Exits non-zero on any finding; the
# input that caused it is kept in BUILD/findings/.
#
# usage: fuzz/run-fuzzers.sh [SECONDS_PER_TARGET] [TARGET...]
#   SECONDS_PER_TARGET  defaults to 60
#   TARGET              fuzz_loader and/or fuzz_node; both by default
# environment:
#   VOXLUM_FUZZ_BUILD   build folder (default: build/fuzz); inputs that found new coverage
#                       are kept in its corpus/ folder and reused by the next run
#   JOBS                parallel build jobs (default: nproc)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_loader fuzz_node)
build=${VOXLUM_FUZZ_BUILD:-$root/build/fuzz}
jobs=${JOBS:-$(nproc)}

if ! command -v clang++ >/dev/null; then
    echo "run-fuzzers: clang++ is needed (Debian: apt-get install clang libclang-rt-14-dev)" >&2
    exit 2
fi
# The fuzz preset: everything is compiled with coverage instrumentation; only the fuzz targets
# link libFuzzer.
(cd "$root" && cmake --preset fuzz -B "$build" >/dev/null)
cmake --build "$build" -j "$jobs" --target "${targets[@]}" make_fuzz_corpus

seeds=$build/seeds
rm -rf "$seeds"
"$build/fuzz/make_fuzz_corpus" "$seeds"
mkdir -p "$build/findings"

# Loader inputs carry a whole 4 KiB header; node inputs are short operation sequences.
declare -A max_len=([fuzz_loader]=16384 [fuzz_node]=4096)
declare -A seed_folder=([fuzz_loader]=loader [fuzz_node]=node)

# The targets run side by side, one per core, each for the full time; each one's output is
# shown once it has finished.
declare -A pids
for target in "${targets[@]}"; do
    corpus=$build/corpus/$target
    mkdir -p "$corpus"
    "$build/fuzz/$target" "$corpus" "$seeds/${seed_folder[$target]}" \
        -dict="$root/fuzz/vol.dict" -max_total_time="$seconds" -max_len="${max_len[$target]}" \
        -rss_limit_mb=2048 -timeout=10 -use_value_profile=1 -print_final_stats=1 \
        -artifact_prefix="$build/findings/$target-" >"$build/$target.log" 2>&1 &
    pids[$target]=$!
done
failed=()
for target in "${targets[@]}"; do
    wait "${pids[$target]}" || failed+=("$target")
    echo "== $target: ${seconds}s"
    cat "$build/$target.log"
done

if [ ${#failed[@]} -gt 0 ]; then
    echo "run-fuzzers: findings in ${failed[*]}; inputs in $build/findings/" >&2
    exit 1
fi
echo "run-fuzzers: no findings"
