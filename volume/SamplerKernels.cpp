#include "SamplerKernels.h"

#include <cmath>

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
    std::size_t upper;  // the ceiling, not lower + 1: both coincide on a lattice plane
    float fraction;
};

AxisSpan spanOf(float coordinate, std::size_t stride) {
    const float scaled = wrapToUnit(coordinate) * static_cast<float>(kVolumeGridSize);
    // scaled is never negative, so truncation is the floor, without a call into libm.
    const auto lower = static_cast<std::int32_t>(scaled);
    const float lowerPlane = static_cast<float>(lower);
    const std::int32_t upper = lower + (scaled != lowerPlane ? 1 : 0);
    return {static_cast<std::size_t>(lower & kIndexMask) * stride,
            static_cast<std::size_t>(upper & kIndexMask) * stride, scaled - lowerPlane};
}

// The four channels of a record or of a blend, each a float value held in double, so the
// blends need no widening and compilers can pair channels in vector registers.
struct Channels {
    double value[4];
};

// byte / 255 rounded to float, then widened.
constexpr std::array<double, 256> makeByteToWideTable() {
    std::array<double, 256> table{};
    for (std::size_t i = 0; i < 256; ++i) table[i] = kByteToUnit[i];
    return table;
}
constexpr std::array<double, 256> kByteToWide = makeByteToWideTable();

template <bool kOpaque>
Channels decodeChannels(const unsigned char* record) {
    return {{kByteToWide[record[0]], kByteToWide[record[1]], kByteToWide[record[2]],
             kOpaque ? 1.0 : kByteToWide[record[3]]}};
}

// The blend of lerpSamples with t and m = 1 - t already widened.
Channels blendChannels(const Channels& a, const Channels& b, double t, double m) {
    Channels out;
    for (std::size_t i = 0; i < 4; ++i) {
        out.value[i] = static_cast<float>(a.value[i] * m + b.value[i] * t);
    }
    return out;
}

// An RGB volume (kOpaque) has no fourth byte to read: its alpha is 1 everywhere.
template <bool kOpaque>
VoxelSample sampleLattice(const unsigned char* records, std::int32_t channelCount, float u, float v,
                          float w) {
    const auto recordSize = static_cast<std::size_t>(channelCount);
    const std::size_t rowSize = recordSize * kVolumeGridSize;
    const AxisSpan x = spanOf(u, recordSize);
    const AxisSpan y = spanOf(v, rowSize);
    const AxisSpan z = spanOf(w, rowSize * kVolumeGridSize);
    const double tx = x.fraction, mx = 1.0f - x.fraction;
    // Blends along x the two records of the row at offset `row`.
    const auto alongX = [&](std::size_t row) {
        return blendChannels(decodeChannels<kOpaque>(records + row + x.lower),
                             decodeChannels<kOpaque>(records + row + x.upper), tx, mx);
    };
    const Channels e00 = alongX(y.lower + z.lower);
    const Channels e10 = alongX(y.upper + z.lower);
    const Channels e01 = alongX(y.lower + z.upper);
    const Channels e11 = alongX(y.upper + z.upper);
    const double ty = y.fraction, my = 1.0f - y.fraction;
    const double tz = z.fraction, mz = 1.0f - z.fraction;
    const Channels c =
        blendChannels(blendChannels(e00, e10, ty, my), blendChannels(e01, e11, ty, my), tz, mz);
    return {static_cast<float>(c.value[0]), static_cast<float>(c.value[1]),
            static_cast<float>(c.value[2]), static_cast<float>(c.value[3])};
}

}  // namespace

VoxelSample samplePortable(const unsigned char* records, std::int32_t channelCount, float u,
                           float v, float w) {
    return channelCount == 3 ? sampleLattice<true>(records, channelCount, u, v, w)
                             : sampleLattice<false>(records, channelCount, u, v, w);
}

const std::vector<Kernel>& usableKernels() {
    static const std::vector<Kernel> kernels = [] {
        std::vector<Kernel> list{{"portable", samplePortable}};
#if VOXLUM_X86_KERNELS
        __builtin_cpu_init();
        const bool fma = __builtin_cpu_supports("fma");
        if (fma && __builtin_cpu_supports("avx2")) list.push_back({"avx2", sampleAvx2});
        if (fma && __builtin_cpu_supports("avx512f")) list.push_back({"avx512", sampleAvx512});
#endif
        return list;
    }();
    return kernels;
}

}  // namespace samplerkernels
