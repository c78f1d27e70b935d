// The batch kernels behind VoxelVolume::sampleTrilinearBatch: many points per call, worked on
// several points per instruction, each sample giving exactly the per-point kernels' bits.
// Internal to the volume library; tests and benchmarks include it to reach every batch kernel
// the processor can run, not only the one the store picks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "SamplerKernels.h"

namespace batchkernels {

// Vector kernels fetch a record and its neighbour along x with one 8-byte load, so the block
// must be readable that far past its last 3-byte record.
constexpr std::size_t kTrailingPadding = 8 - 3;

// Samples `count` points of the 128^3 lattice of `channelCount`-byte records: point i is
// (u[i], v[i], w[i]), its sample goes to r[i], g[i], b[i] and a[i]. Any float is accepted;
// outputs must not overlap the inputs.
using BatchFunction = void (*)(const unsigned char* records, std::int32_t channelCount,
                               std::size_t count, const float* u, const float* v, const float* w,
                               float* r, float* g, float* b, float* a);

// A kernel's batch function for records of `channelCount` bytes, chosen once per load.
using BatchSelector = BatchFunction (*)(std::int32_t channelCount);

struct BatchKernel {
    const char* name;
    BatchSelector forRecordSize;
};

// The batch kernels compiled in that this processor can run: the portable one first, fastest
// last.
const std::vector<BatchKernel>& usableBatchKernels();

inline BatchFunction fastestBatchKernel(std::int32_t channelCount) {
    return usableBatchKernels().back().forRecordSize(channelCount);
}

// Samples interleaved points into interleaved samples with a column kernel, a slice at a time
// through columns on the stack.
void sampleInterleaved(BatchFunction kernel, const unsigned char* records,
                       std::int32_t channelCount, std::size_t count, const TexturePoint* points,
                       VoxelSample* samples);

BatchFunction portableBatchKernel(std::int32_t channelCount);
#if VOXLUM_SSE2_KERNEL
BatchFunction sse2BatchKernel(std::int32_t channelCount);
#endif
#if VOXLUM_X86_KERNELS
BatchFunction avx2BatchKernel(std::int32_t channelCount);
// Without AVX-512 VBMI bytes are picked out of the fetched records with shifts and narrowing
// moves; with it, with one byte permutation per channel.
BatchFunction avx512BatchKernel(std::int32_t channelCount);
BatchFunction avx512VbmiBatchKernel(std::int32_t channelCount);
#endif

}  // namespace batchkernels
