// The per-point kernels' arithmetic on the four channels of a record or of a blend, shared with
// the batch kernels that work point by point. Internal to the volume library.
#pragma once

#include <array>
#include <cstddef>
#include <cstring>

#include "SamplerKernels.h"

#if VOXLUM_SSE2_KERNEL
#include <emmintrin.h>
#endif

namespace samplerkernels {

// byte / 255 rounded to float, then widened.
constexpr std::array<double, 256> makeByteToWideTable() {
    std::array<double, 256> table{};
    for (std::size_t i = 0; i < 256; ++i) table[i] = kByteToUnit[i];
    return table;
}
inline constexpr std::array<double, 256> kByteToWide = makeByteToWideTable();

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

}  // namespace samplerkernels
