// The portable batch kernel, one point at a time, and the SSE2 one, two points per vector; both
// read records through a table of decoded bytes, since neither has a gather.
#include "BatchKernels.h"

#include <array>
#include <cmath>

#include "BatchLattice.h"
#include "VoxelVolume.h"

#if VOXLUM_SSE2_KERNEL
#include <emmintrin.h>
#endif

namespace batchkernels {

namespace {

constexpr std::int32_t kPlaneMask = kVolumeGridSize - 1;

// Byte offsets of the three axes' lattice planes per step: one record, one row, one slice.
constexpr std::size_t axisStride(std::int32_t channelCount, int axis) {
    return static_cast<std::size_t>(channelCount) << (7 * axis);
}
static_assert(kVolumeGridSize == 1 << 7, "axis strides are shifts by 7 bits per axis");

template <int kChannels>
constexpr std::int32_t recordSize(std::int32_t channelCount) {
    return kChannels == 0 ? channelCount : kChannels;
}

// Every byte / 255 rounded to float, held in double as the blends use it.
constexpr std::array<double, 256> makeDecodedBytes() {
    std::array<double, 256> table{};
    for (std::size_t i = 0; i < 256; ++i) table[i] = samplerkernels::kByteToUnit[i];
    return table;
}
constexpr std::array<double, 256> kDecodedBytes = makeDecodedBytes();

// Records of one row: the point's x0 and x1 records (two of each with SSE2).
template <std::size_t kPoints>
struct RecordPointers {
    const unsigned char* lower[kPoints];
    const unsigned char* upper[kPoints];
};

// Byte offsets of the planes around points along one axis.
template <std::size_t kPoints>
struct AxisPlanes {
    std::size_t lower[kPoints];
    std::size_t upper[kPoints];
};

// `planes` are the lower planes of wrapped coordinates, 0 to 128; the upper plane is always the
// next one (on a lattice plane its weight is exactly 0), and 128 is plane 0 again.
template <std::size_t kPoints>
AxisPlanes<kPoints> planesOf(const std::int32_t (&planes)[kPoints], std::size_t stride) {
    AxisPlanes<kPoints> out;
    for (std::size_t i = 0; i < kPoints; ++i) {
        out.lower[i] = static_cast<std::size_t>(planes[i] & kPlaneMask) * stride;
        out.upper[i] = static_cast<std::size_t>((planes[i] + 1) & kPlaneMask) * stride;
    }
    return out;
}

// Corners of kPoints points: byte offsets of x0, x1 and of the four rows, as Cell of each
// lanes type holds them.
template <std::size_t kPoints>
struct ScalarCorners {
    std::size_t lowerX[kPoints];
    std::size_t upperX[kPoints];
    std::size_t rows[4][kPoints];
};

template <std::size_t kPoints>
ScalarCorners<kPoints> cornersOf(const std::int32_t (&planes)[3][kPoints],
                                 std::int32_t channelCount) {
    const AxisPlanes<kPoints> x = planesOf(planes[0], axisStride(channelCount, 0));
    const AxisPlanes<kPoints> y = planesOf(planes[1], axisStride(channelCount, 1));
    const AxisPlanes<kPoints> z = planesOf(planes[2], axisStride(channelCount, 2));
    ScalarCorners<kPoints> corners;
    for (std::size_t i = 0; i < kPoints; ++i) {
        corners.lowerX[i] = x.lower[i];
        corners.upperX[i] = x.upper[i];
        corners.rows[0][i] = y.lower[i] + z.lower[i];
        corners.rows[1][i] = y.upper[i] + z.lower[i];
        corners.rows[2][i] = y.lower[i] + z.upper[i];
        corners.rows[3][i] = y.upper[i] + z.upper[i];
    }
    return corners;
}

template <std::size_t kPoints>
RecordPointers<kPoints> rowRecords(const unsigned char* records,
                                   const ScalarCorners<kPoints>& corners, int row) {
    RecordPointers<kPoints> out;
    for (std::size_t i = 0; i < kPoints; ++i) {
        const unsigned char* rowStart = records + corners.rows[row][i];
        out.lower[i] = rowStart + corners.lowerX[i];
        out.upper[i] = rowStart + corners.upperX[i];
    }
    return out;
}

// What the portable and SSE2 lanes share: rows as record pointers, from corners located per
// point.
template <std::size_t kPoints>
struct PointerLanes {
    static constexpr std::size_t kWidth = kPoints;
    using Row = RecordPointers<kPoints>;

    template <int, class Cell>
    static Row fetch(const unsigned char* records, std::int32_t, const Cell& cell, int row) {
        return rowRecords(records, cell.corners, row);
    }
};

struct PortableLanes : PointerLanes<1> {
    using Double = double;
    struct Cell {
        ScalarCorners<1> corners;
        double fraction[3];
        double complement[3];
    };
    template <int kChannels>
    static Cell locate(const unsigned char*, std::int32_t channelCount, const float* u,
                       const float* v, const float* w) {
        Cell cell;
        std::int32_t planes[3][1];
        const float coordinates[3] = {*u, *v, *w};
        for (int axis = 0; axis < 3; ++axis) {
            const float c = coordinates[axis];
            // [0, 1) passes unchanged; other finite values wrap with period 1, the rest is 0.
            const float unit = c >= 0.0f && c < 1.0f ? c
                               : std::isfinite(c)    ? c - std::floor(c)
                                                     : 0.0f;
            const float scaled = unit * static_cast<float>(kVolumeGridSize);
            planes[axis][0] = static_cast<std::int32_t>(scaled);
            const float fraction = scaled - static_cast<float>(planes[axis][0]);
            cell.fraction[axis] = fraction;
            cell.complement[axis] = 1.0f - fraction;
        }
        cell.corners = cornersOf(planes, recordSize<kChannels>(channelCount));
        return cell;
    }

    template <int>
    static void decode(const Row& row, int channel, double& lower, double& upper) {
        lower = kDecodedBytes[row.lower[0][channel]];
        upper = kDecodedBytes[row.upper[0][channel]];
    }

    static double blend(double a, double b, double t, double m) { return a * m + b * t; }
    static double round(double value) { return static_cast<float>(value); }
    static void store(float* sample, double value) { *sample = static_cast<float>(value); }
};

#if VOXLUM_SSE2_KERNEL
// Two points per vector of doubles; the coordinates of the two in the low half of a vector of
// floats.
struct Sse2Lanes : PointerLanes<2> {
    using Double = __m128d;
    struct Cell {
        ScalarCorners<2> corners;
        __m128d fraction[3];
        __m128d complement[3];
    };
    // c - floor(c) for finite c, 0 for the rest. SSE2 has no floor: truncation, less one where
    // it rounded up; from 2^23 on every float is whole, and wraps to 0.
    static __m128 wrap(__m128 c) {
        const __m128 truncated = _mm_cvtepi32_ps(_mm_cvttps_epi32(c));
        const __m128 floor =
            _mm_sub_ps(truncated, _mm_and_ps(_mm_cmpgt_ps(truncated, c), _mm_set1_ps(1.0f)));
        const __m128 magnitude = _mm_andnot_ps(_mm_set1_ps(-0.0f), c);
        const __m128 fractional = _mm_cmplt_ps(magnitude, _mm_set1_ps(8388608.0f));
        return _mm_and_ps(_mm_sub_ps(c, floor), fractional);
    }

    template <int kChannels>
    static Cell locate(const unsigned char*, std::int32_t channelCount, const float* u,
                       const float* v, const float* w) {
        Cell cell;
        std::int32_t planes[3][2];
        const float* coordinates[3] = {u, v, w};
        for (int axis = 0; axis < 3; ++axis) {
            const __m128 c = _mm_setr_ps(coordinates[axis][0], coordinates[axis][1], 0.0f, 0.0f);
            const __m128 scaled =
                _mm_mul_ps(wrap(c), _mm_set1_ps(static_cast<float>(kVolumeGridSize)));
            const __m128i lower = _mm_cvttps_epi32(scaled);
            const __m128 fraction = _mm_sub_ps(scaled, _mm_cvtepi32_ps(lower));
            cell.fraction[axis] = _mm_cvtps_pd(fraction);
            cell.complement[axis] = _mm_cvtps_pd(_mm_sub_ps(_mm_set1_ps(1.0f), fraction));
            planes[axis][0] = _mm_cvtsi128_si32(lower);
            planes[axis][1] = _mm_cvtsi128_si32(_mm_shuffle_epi32(lower, 1));
        }
        cell.corners = cornersOf(planes, recordSize<kChannels>(channelCount));
        return cell;
    }

    template <int>
    static void decode(const Row& row, int channel, __m128d& lower, __m128d& upper) {
        lower =
            _mm_setr_pd(kDecodedBytes[row.lower[0][channel]], kDecodedBytes[row.lower[1][channel]]);
        upper =
            _mm_setr_pd(kDecodedBytes[row.upper[0][channel]], kDecodedBytes[row.upper[1][channel]]);
    }

    // Both products are exact in double, so the sum is rounded once, as with a fused add.
    static __m128d blend(__m128d a, __m128d b, __m128d t, __m128d m) {
        return _mm_add_pd(_mm_mul_pd(a, m), _mm_mul_pd(b, t));
    }
    static __m128d round(__m128d value) { return _mm_cvtps_pd(_mm_cvtpd_ps(value)); }
    static void store(float* samples, __m128d value) {
        const __m128 rounded = _mm_cvtpd_ps(value);
        samples[0] = _mm_cvtss_f32(rounded);
        samples[1] = _mm_cvtss_f32(_mm_shuffle_ps(rounded, rounded, 1));
    }
};
#endif

}  // namespace

BatchFunction portableBatchKernel(std::int32_t channelCount) {
    return batchForRecordSize<PortableLanes>(channelCount);
}

#if VOXLUM_SSE2_KERNEL
BatchFunction sse2BatchKernel(std::int32_t channelCount) {
    return batchForRecordSize<Sse2Lanes>(channelCount);
}
#endif

const std::vector<BatchKernel>& usableBatchKernels() {
    static const std::vector<BatchKernel> kernels = [] {
        std::vector<BatchKernel> list{{"portable", portableBatchKernel}};
#if VOXLUM_SSE2_KERNEL
        list.push_back({"sse2", sse2BatchKernel});
#endif
#if VOXLUM_X86_KERNELS
        __builtin_cpu_init();
        const bool fma = __builtin_cpu_supports("fma");
        if (fma && __builtin_cpu_supports("avx2")) list.push_back({"avx2", avx2BatchKernel});
        if (fma && __builtin_cpu_supports("avx512f")) {
            list.push_back({"avx512", avx512BatchKernel});
            if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi")) {
                list.push_back({"avx512vbmi", avx512VbmiBatchKernel});
            }
        }
#endif
        return list;
    }();
    return kernels;
}

void sampleInterleaved(BatchFunction kernel, const unsigned char* records,
                       std::int32_t channelCount, std::size_t count, const TexturePoint* points,
                       VoxelSample* samples) {
    // Enough points that the kernel's groups dominate, few enough to stay in the first-level
    // cache.
    constexpr std::size_t kSlice = 256;
    float columns[7][kSlice];
    for (std::size_t first = 0; first < count; first += kSlice) {
        const std::size_t length = count - first < kSlice ? count - first : kSlice;
        for (std::size_t i = 0; i < length; ++i) {
            columns[0][i] = points[first + i].u;
            columns[1][i] = points[first + i].v;
            columns[2][i] = points[first + i].w;
        }
        kernel(records, channelCount, length, columns[0], columns[1], columns[2], columns[3],
               columns[4], columns[5], columns[6]);
        for (std::size_t i = 0; i < length; ++i) {
            samples[first + i] = {columns[3][i], columns[4][i], columns[5][i], columns[6][i]};
        }
    }
}

}  // namespace batchkernels
