// The portable batch kernel and the SSE2 one: point by point with the per-point kernels'
// arithmetic (SSE2: two channels per vector). A batch lets them locate points a few ahead and
// prefetch their rows, so several points' records are on their way at once, and keep the
// decoded corner records while consecutive points stay in one cell.
#include "BatchKernels.h"

#include <cmath>

#include "ChannelArithmetic.h"
#include "VoxelVolume.h"

namespace batchkernels {

namespace {

constexpr std::int32_t kPlaneMask = kVolumeGridSize - 1;
static_assert(kVolumeGridSize == 1 << 7, "cells are numbered with 7 bits per axis");

// Where a point lies: the planes below it along x, y and z, its weights along them, and its
// cell as one number, equal for two points exactly when they share the eight corner records.
struct PointCell {
    std::int32_t planes[3];
    float fraction[3];
    std::uint32_t index;
};
constexpr std::uint32_t kNoCell = ~std::uint32_t{0};

PointCell locatePoint(float u, float v, float w) {
    PointCell cell;
    const float coordinates[3] = {u, v, w};
    for (int axis = 0; axis < 3; ++axis) {
        const float c = coordinates[axis];
        // [0, 1) passes unchanged; other finite values wrap with period 1, the rest is 0.
        const float unit = c >= 0.0f && c < 1.0f ? c : std::isfinite(c) ? c - std::floor(c) : 0.0f;
        const float scaled = unit * static_cast<float>(kVolumeGridSize);
        // Never negative, so truncation is the floor; a wrap that rounded up to 1 gives plane
        // 128, which is plane 0 with weight 0.
        const auto lower = static_cast<std::int32_t>(scaled);
        cell.planes[axis] = lower & kPlaneMask;
        cell.fraction[axis] = scaled - static_cast<float>(lower);
    }
    cell.index =
        static_cast<std::uint32_t>(cell.planes[0] | cell.planes[1] << 7 | cell.planes[2] << 14);
    return cell;
}

// Byte offsets of a cell's corner records: records + rows[i] + x[0] or x[1], rows in the order
// (y0, z0), (y1, z0), (y0, z1), (y1, z1). The upper plane is always the next one: on a lattice
// plane its weight is exactly 0.
struct CellOffsets {
    std::size_t x[2];
    std::size_t rows[4];
};

CellOffsets offsetsOf(const PointCell& cell, std::size_t recordBytes) {
    std::size_t lower[3];
    std::size_t upper[3];
    for (int axis = 0; axis < 3; ++axis) {
        const std::size_t stride = recordBytes << (7 * axis);
        lower[axis] = static_cast<std::size_t>(cell.planes[axis]) * stride;
        upper[axis] = static_cast<std::size_t>((cell.planes[axis] + 1) & kPlaneMask) * stride;
    }
    return {{lower[0], upper[0]},
            {lower[1] + lower[2], upper[1] + lower[2], lower[1] + upper[2], upper[1] + upper[2]}};
}

inline void prefetch(const unsigned char* address) {
#if defined(__GNUC__)
    __builtin_prefetch(address);
#else
    static_cast<void>(address);
#endif
}

using samplerkernels::ScalarChannels;
#if VOXLUM_SSE2_KERNEL
using samplerkernels::Sse2Channels;
#endif

// A cell's eight corner records, decoded: x0's and x1's of each row.
template <class Channels>
struct CornerRecords {
    typename Channels::Value lower[4];
    typename Channels::Value upper[4];
};

template <class Channels, bool kOpaque>
CornerRecords<Channels> decodeCorners(const unsigned char* records, const CellOffsets& offsets) {
    CornerRecords<Channels> corners;
    for (int row = 0; row < 4; ++row) {
        const unsigned char* rowStart = records + offsets.rows[row];
        corners.lower[row] = Channels::template decode<kOpaque>(rowStart + offsets.x[0]);
        corners.upper[row] = Channels::template decode<kOpaque>(rowStart + offsets.x[1]);
    }
    return corners;
}

// The per-point kernels' blends: along x in each row, then along y, then along z.
template <class Channels>
typename Channels::Value blendCorners(const CornerRecords<Channels>& corners,
                                      const PointCell& cell) {
    using Value = typename Channels::Value;
    const float* f = cell.fraction;
    const auto tx = Channels::weight(f[0]), mx = Channels::weight(1.0f - f[0]);
    Value alongX[4];
    for (int row = 0; row < 4; ++row) {
        alongX[row] = Channels::blend(corners.lower[row], corners.upper[row], tx, mx);
    }
    const auto ty = Channels::weight(f[1]), my = Channels::weight(1.0f - f[1]);
    const auto tz = Channels::weight(f[2]), mz = Channels::weight(1.0f - f[2]);
    return Channels::blend(Channels::blend(alongX[0], alongX[1], ty, my),
                           Channels::blend(alongX[2], alongX[3], ty, my), tz, mz);
}

// Everything a point needs inlined into the batch loop, so that the corner records and weights
// stay in registers instead of passing through memory between calls.
#if defined(__GNUC__)
#define VOXLUM_INLINE_ALL __attribute__((flatten))
#else
#define VOXLUM_INLINE_ALL
#endif

template <class Channels, int kChannels>
VOXLUM_INLINE_ALL void samplePoints(const unsigned char* records, std::int32_t channelCount,
                                    std::size_t count, const float* u, const float* v,
                                    const float* w, float* r, float* g, float* b, float* a) {
    const auto recordBytes = static_cast<std::size_t>(kChannels == 0 ? channelCount : kChannels);
    // Points located ahead of the one being blended, their rows prefetched where they enter a
    // new cell: far enough ahead for random points' loads to overlap, near enough to stay cheap.
    constexpr std::size_t kAhead = 8;
    PointCell ahead[kAhead];
    std::uint32_t lastLocated = kNoCell;
    const auto locateAhead = [&](std::size_t i) {
        PointCell& cell = ahead[i % kAhead];
        cell = locatePoint(u[i], v[i], w[i]);
        if (cell.index == lastLocated) return;
        lastLocated = cell.index;
        const CellOffsets offsets = offsetsOf(cell, recordBytes);
        for (std::size_t row : offsets.rows) prefetch(records + row + offsets.x[0]);
    };
    std::size_t located = 0;
    for (; located < count && located < kAhead; ++located) locateAhead(located);
    CornerRecords<Channels> corners;
    std::uint32_t cornersCell = kNoCell;
    for (std::size_t i = 0; i < count; ++i) {
        const PointCell cell = ahead[i % kAhead];
        if (located < count) locateAhead(located++);
        if (cell.index != cornersCell) {
            corners =
                decodeCorners<Channels, kChannels == 3>(records, offsetsOf(cell, recordBytes));
            cornersCell = cell.index;
        }
        const VoxelSample sample = Channels::toSample(blendCorners<Channels>(corners, cell));
        r[i] = sample.r;
        g[i] = sample.g;
        b[i] = sample.b;
        a[i] = sample.a;
    }
}

template <class Channels>
BatchFunction pointKernelForRecordSize(std::int32_t channelCount) {
    switch (channelCount) {
        case 3:
            return samplePoints<Channels, 3>;
        case 4:
            return samplePoints<Channels, 4>;
        default:
            return samplePoints<Channels, 0>;
    }
}

}  // namespace

BatchFunction portableBatchKernel(std::int32_t channelCount) {
    return pointKernelForRecordSize<ScalarChannels>(channelCount);
}

#if VOXLUM_SSE2_KERNEL
BatchFunction sse2BatchKernel(std::int32_t channelCount) {
    return pointKernelForRecordSize<Sse2Channels>(channelCount);
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
