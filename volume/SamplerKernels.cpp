#include "SamplerKernels.h"

#include <cmath>
#include <cstring>

#if VOXLUM_SSE2_KERNEL
#include <emmintrin.h>
#endif

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

// byte / 255 rounded to float, then widened.
constexpr std::array<double, 256> makeByteToWideTable() {
    std::array<double, 256> table{};
    for (std::size_t i = 0; i < 256; ++i) table[i] = kByteToUnit[i];
    return table;
}
constexpr std::array<double, 256> kByteToWide = makeByteToWideTable();

// The arithmetic on the four channels of a record or of a blend, each a float value held in
// double: one double at a time, or with SSE2 two at a time. An RGB record (kOpaque) has no
// fourth byte to read: its alpha is 1 everywhere.
struct ScalarChannels {
    struct Value {
        double channel[4];
    };
    using Weight = double;

    static Weight weight(float w) { return w; }

    template <bool kOpaque>
    static Value decode(const unsigned char* record) {
        return {{kByteToWide[record[0]], kByteToWide[record[1]], kByteToWide[record[2]],
                 kOpaque ? 1.0 : kByteToWide[record[3]]}};
    }

    // The blend of lerpSamples with t and m = 1 - t already widened.
    static Value blend(const Value& a, const Value& b, Weight t, Weight m) {
        Value out;
        for (std::size_t i = 0; i < 4; ++i) {
            out.channel[i] = static_cast<float>(a.channel[i] * m + b.channel[i] * t);
        }
        return out;
    }

    static VoxelSample toSample(const Value& v) {
        return {static_cast<float>(v.channel[0]), static_cast<float>(v.channel[1]),
                static_cast<float>(v.channel[2]), static_cast<float>(v.channel[3])};
    }
};

#if VOXLUM_SSE2_KERNEL
struct Sse2Channels {
    struct Value {
        __m128d redGreen;
        __m128d blueAlpha;
    };
    using Weight = __m128d;

    static Weight weight(float w) { return _mm_set1_pd(w); }

    template <bool kOpaque>
    static Value decode(const unsigned char* record) {
        return {_mm_setr_pd(kByteToWide[record[0]], kByteToWide[record[1]]),
                _mm_setr_pd(kByteToWide[record[2]], kOpaque ? 1.0 : kByteToWide[record[3]])};
    }

    // Both products are exact in double, so the sum is rounded once, as in the scalar blend.
    static __m128d blendPair(__m128d a, __m128d b, Weight t, Weight m) {
        return _mm_cvtps_pd(_mm_cvtpd_ps(_mm_add_pd(_mm_mul_pd(a, m), _mm_mul_pd(b, t))));
    }
    static Value blend(const Value& a, const Value& b, Weight t, Weight m) {
        return {blendPair(a.redGreen, b.redGreen, t, m), blendPair(a.blueAlpha, b.blueAlpha, t, m)};
    }

    static VoxelSample toSample(const Value& v) {
        const __m128 channels = _mm_movelh_ps(_mm_cvtpd_ps(v.redGreen), _mm_cvtpd_ps(v.blueAlpha));
        VoxelSample sample;
        static_assert(sizeof sample == sizeof channels, "a sample is four packed floats");
        std::memcpy(&sample, &channels, sizeof sample);
        return sample;
    }
};
#endif

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
