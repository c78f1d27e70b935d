#!/usr/bin/env bash
# Builds the fuzz targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer, libFuzzer) and
# runs each for a bounded time over a generated seed corpus. Exits non-zero on any finding; the
# input that caused it is kept in BUILD/findings/.
#
# usage: fuzz/run-fuzzers.sh [SECONDS_PER_TARGET] [TARGET...]
#   SECONDS_PER_TARGET  defaults to 60
#   TARGET              fuzz_loader, fuzz_node and/or fuzz_tool_input; all three by default
# environment:
#   VOXLUM_FUZZ_BUILD   build folder (default: build/fuzz); inputs that found new coverage
#                       are kept in its corpus/ folder and reused by the next run
#   JOBS                parallel build jobs (default: nproc)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_loader fuzz_node fuzz_tool_input)
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

# Loader inputs carry a whole 4 KiB header; node inputs are short operation sequences, tool
# inputs short texts and small grids.
declare -A max_len=([fuzz_loader]=16384 [fuzz_node]=4096 [fuzz_tool_input]=4096)
declare -A seed_folder=([fuzz_loader]=loader [fuzz_node]=node [fuzz_tool_input]=tool_input)
declare -A dictionary=([fuzz_loader]=vol.dict [fuzz_node]=vol.dict
                       [fuzz_tool_input]=tool_input.dict)
# Value profiles would keep frame lists that differ only in a range's end as new inputs, and each
# of the longest takes a second to parse under coverage tracing; the dictionary and the compare
# tracing find the parsers' constants without them.
declare -A value_profile=([fuzz_loader]=1 [fuzz_node]=1 [fuzz_tool_input]=0)

# The targets run side by side, each for the full time; each one's output is shown once it has
# finished.
declare -A pids
for target in "${targets[@]}"; do
    corpus=$build/corpus/$target
    mkdir -p "$corpus"
    "$build/fuzz/$target" "$corpus" "$seeds/${seed_folder[$target]}" \
        -dict="$root/fuzz/${dictionary[$target]}" -max_total_time="$seconds" \
        -max_len="${max_len[$target]}" -use_value_profile="${value_profile[$target]}" \
        -rss_limit_mb=2048 -timeout=10 -print_final_stats=1 \
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
