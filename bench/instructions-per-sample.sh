#!/usr/bin/env bash
# Instructions per sample for each sampler, counted by callgrind: the driver runs twice with
# different sample counts and the difference of the totals is divided by the difference of
# the counts, so setup cost drops out. The per-sample loop of the driver (a handful of
# instructions) stays in. valgrind does not emulate AVX-512, so that kernel cannot be counted.
#   bench/instructions-per-sample.sh BUILD_DIR [SAMPLER...]
set -euo pipefail
build=${1:?usage: $0 BUILD_DIR [SAMPLER...]}
shift
driver="$build/bench/voxlum_sample_driver"
samplers=("$@")
[ ${#samplers[@]} -gt 0 ] || samplers=(transcription portable avx2 store)
small=100000
large=300000

# Instructions of one run; fails where the driver refuses the sampler.
instructions() {
    local log
    log=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null "$driver" "$1" "$2" 2>&1) ||
        return 1
    sed -n 's/.*Collected : \([0-9]*\).*/\1/p' <<<"$log"
}

printf '%-14s %s\n' sampler instructions/sample
for sampler in "${samplers[@]}"; do
    # The driver refuses a kernel that the processor valgrind emulates cannot run.
    if ! first=$(instructions "$sampler" $small); then
        printf '%-14s %s\n' "$sampler" "not runnable under valgrind"
        continue
    fi
    second=$(instructions "$sampler" $large)
    printf '%-14s %s\n' "$sampler" $(((second - first) / (large - small)))
done
