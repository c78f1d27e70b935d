#include "SamplerKernels.h"

#include <cmath>

#include "ChannelArithmetic.h"

namespace samplerkernels {

namespace {

static_assert((kVolumeGridSize & (kVolumeGridSize - 1)) == 0,
              "lattice indices wrap with a mask, so the grid size must be a power of two");
constexpr std::int32_t kIndexMask = kVolumeGridSize - 1;

// Coordinates in [0, 1] pass unchanged; others wrap with period 1, and NaN or infinity, which
// have no place in the lattice, sample as 0.
inline float wrapToUnit(float coordinate) {
    if (coordinate >= 0.0f && coordinate <= 1.0f) return coordinate;
    if (!std::isfinite(coordinate)) return 0.0f;
    return coordinate - std::floor(coordinate);
}

// Byte offsets of the two lattice planes around a coordinate along one axis.
struct AxisSpan {
    std::size_t lower;
    // Always the next plane, even on a lattice plane where the ceiling would be the lower one:
    // its weight is then exactly 0, and a * 1 + b * 0 is a.
    std::size_t upper;
    float fraction;
};

AxisSpan spanOf(float coordinate, std::size_t stride) {
    const float scaled = wrapToUnit(coordinate) * static_cast<float>(kVolumeGridSize);
    // scaled is never negative, so truncation is the floor, without a call into libm.
    const auto lower = static_cast<std::int32_t>(scaled);
    const float lowerPlane = static_cast<float>(lower);
    return {static_cast<std::size_t>(lower & kIndexMask) * stride,
            static_cast<std::size_t>((lower + 1) & kIndexMask) * stride, scaled - lowerPlane};
}

template <class Channels, bool kOpaque>
VoxelSample sampleLattice(const unsigned char* records, std::int32_t channelCount, float u, float v,
                          float w) {
    using Value = typename Channels::Value;
    const auto recordSize = static_cast<std::size_t>(channelCount);
    const std::size_t rowSize = recordSize * kVolumeGridSize;
    const AxisSpan x = spanOf(u, recordSize);
    const AxisSpan y = spanOf(v, rowSize);
    const AxisSpan z = spanOf(w, rowSize * kVolumeGridSize);
    const auto tx = Channels::weight(x.fraction), mx = Channels::weight(1.0f - x.fraction);
    // Blends along x the two records of the row at offset `row`.
    const auto alongX = [&](std::size_t row) {
        return Channels::blend(Channels::template decode<kOpaque>(records + row + x.lower),
                               Channels::template decode<kOpaque>(records + row + x.upper), tx, mx);
    };
    const Value e00 = alongX(y.lower + z.lower);
    const Value e10 = alongX(y.upper + z.lower);
    const Value e01 = alongX(y.lower + z.upper);
    const Value e11 = alongX(y.upper + z.upper);
    const auto ty = Channels::weight(y.fraction), my = Channels::weight(1.0f - y.fraction);
    const auto tz = Channels::weight(z.fraction), mz = Channels::weight(1.0f - z.fraction);
    return Channels::toSample(Channels::blend(Channels::blend(e00, e10, ty, my),
                                              Channels::blend(e01, e11, ty, my), tz, mz));
}

template <class Channels>
SampleFunction latticeKernel(std::int32_t channelCount) {
    return channelCount == 3 ? sampleLattice<Channels, true> : sampleLattice<Channels, false>;
}

}  // namespace

SampleFunction portableKernel(std::int32_t channelCount) {
    return latticeKernel<ScalarChannels>(channelCount);
}

#if VOXLUM_SSE2_KERNEL
SampleFunction sse2Kernel(std::int32_t channelCount) {
    return latticeKernel<Sse2Channels>(channelCount);
}
#endif

const std::vector<Kernel>& usableKernels() {
    static const std::vector<Kernel> kernels = [] {
        std::vector<Kernel> list{{"portable", portableKernel}};
#if VOXLUM_SSE2_KERNEL
        list.push_back({"sse2", sse2Kernel});
#endif
#if VOXLUM_X86_KERNELS
        __builtin_cpu_init();
        const bool fma = __builtin_cpu_supports("fma");
        if (fma && __builtin_cpu_supports("avx2")) list.push_back({"avx2", avx2Kernel});
        if (fma && __builtin_cpu_supports("avx512f")) list.push_back({"avx512", avx512Kernel});
#endif
        return list;
    }();
    return kernels;
}

}  // namespace samplerkernels
