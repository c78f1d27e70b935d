// The per-sample kernels behind VoxelVolume::sampleTrilinear, one per instruction set, all
// giving the same bits. Internal to the volume library; tests and benchmarks include it to
// reach every kernel the processor can run, not only the one the store picks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "VoxelVolume.h"

// AVX kernels need GCC or Clang on x86-64. GCC targeting Windows cannot keep the stack aligned
// to 32 bytes for spilled AVX registers, so those builds keep to the SSE2 and portable kernels,
// and so do 32-bit builds, as the 32-bit modules the hosts load are built for Windows.
#if defined(__x86_64__) && defined(__GNUC__) && (!defined(_WIN32) || defined(__clang__))
#define VOXLUM_X86_KERNELS 1
#else
#define VOXLUM_X86_KERNELS 0
#endif

// SSE2 is part of every x86-64 processor, and the 32-bit Windows build requires it, so its
// kernel needs no check at run time.
#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#define VOXLUM_SSE2_KERNEL 1
#else
#define VOXLUM_SSE2_KERNEL 0
#endif

namespace samplerkernels {

// Kernels load whole 4-byte words, so a 3-channel block must be readable one byte past its end.
constexpr std::size_t kTrailingPadding = 1;

// Samples the 128^3 lattice of `channelCount`-byte records at (u, v, w); any float is accepted.
using SampleFunction = VoxelSample (*)(const unsigned char* records, std::int32_t channelCount,
                                       float u, float v, float w);

// A kernel's sampling function for records of `channelCount` bytes: RGB and RGBA records have
// functions of their own with constant strides, chosen once per load instead of per sample.
using KernelSelector = SampleFunction (*)(std::int32_t channelCount);

struct Kernel {
    const char* name;
    KernelSelector forRecordSize;
};

// The kernels compiled in that this processor can run: the portable one first, fastest last.
const std::vector<Kernel>& usableKernels();

inline SampleFunction fastestKernel(std::int32_t channelCount) {
    return usableKernels().back().forRecordSize(channelCount);
}

SampleFunction portableKernel(std::int32_t channelCount);
#if VOXLUM_SSE2_KERNEL
SampleFunction sse2Kernel(std::int32_t channelCount);
#endif
#if VOXLUM_X86_KERNELS
SampleFunction avx2Kernel(std::int32_t channelCount);
SampleFunction avx512Kernel(std::int32_t channelCount);
#endif

// byte / 255 in double rounded to float, for every byte: the same value the division gives.
constexpr std::array<float, 256> makeByteToUnitTable() {
    std::array<float, 256> table{};
    for (int i = 0; i < 256; ++i)
        table[static_cast<std::size_t>(i)] = static_cast<float>(i / 255.0);
    return table;
}
inline constexpr std::array<float, 256> kByteToUnit = makeByteToUnitTable();

// One record's channels mapped to [0, 1]; an RGB record is opaque.
inline VoxelSample decodeRecord(const unsigned char* record, std::int32_t channelCount) {
    return {kByteToUnit[record[0]], kByteToUnit[record[1]], kByteToUnit[record[2]],
            channelCount == 3 ? 1.0f : kByteToUnit[record[3]]};
}

// a * (1 - t) + b * t per component: both products are exact in double, so the sum is
// rounded once there and once more to float, whether or not the compiler fuses it.
inline VoxelSample lerpSamples(const VoxelSample& a, const VoxelSample& b, float t) {
    const float m = 1.0f - t;
    const auto mix = [t, m](float from, float to) {
        return static_cast<float>(static_cast<double>(from) * m + static_cast<double>(to) * t);
    };
    return {mix(a.r, b.r), mix(a.g, b.g), mix(a.b, b.b), mix(a.a, b.a)};
}

}  // namespace samplerkernels
