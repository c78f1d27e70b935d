// What the AVX2 and AVX-512 batch kernels share: eight points located at once in 256-bit
// vectors, their records fetched with one 8-byte gather per row, x0's record and the next one
// together, and for points that lie close together the range of their planes and the rows of
// records around them. Included only by kernel files built with AVX2 and FMA enabled.
#pragma once

#include <cstdint>

#include "BatchLattice.h"
#include "X86Intrinsics.h"

namespace batchkernels {

// As in BatchLattice.h: compiled per kernel file with its own flags, so internal linkage only.
namespace {

// Eight points' cells: their lower planes and their weights t and 1 - t along x, y and z in
// float.
struct EightPoints {
    // Each point's planes x0, y0 and z0 in bytes 0, 1 and 2.
    __m256i planeBytes;
    // Points with a weight t along x or y above 0 but below kSmallestWideWeight.
    int tinyWeightBits;
    __m256 fraction[3];
    __m256 complement[3];
};

// Where eight points' corner records lie: records + rows[i] + lowerX or upperX.
struct CornerOffsets {
    __m256i lowerX;
    __m256i upperX;
    __m256i rows[4];
    // Points whose x0 is the last plane: their x1 record, plane 0, is not the one after x0's.
    __m256i wrapsX;
    int wrapsXBits;
};

// Where every weight t along x and y is 0 or at least this, a blend of bytes / 255 along x is 0
// or at least 2^-64 and one of those along y 0 or at least 2^-120: normal floats, as the rounding
// without a conversion (roundNormal) needs.
constexpr float kSmallestWideWeight = 0x1p-56f;

// Byte offsets of planes along one axis: records of kChannels bytes (0: channelCount bytes).
template <int kChannels>
inline __m256i axisOffsets(__m256i planes, std::int32_t channelCount, int axis) {
    static_assert(kVolumeGridSize == 1 << 7, "axis strides are shifts by 7 bits per axis");
    if (kChannels == 4) return _mm256_sll_epi32(planes, _mm_cvtsi32_si128(2 + 7 * axis));
    const std::int32_t recordBytes = kChannels == 0 ? channelCount : kChannels;
    return _mm256_mullo_epi32(planes, _mm256_set1_epi32(recordBytes << (7 * axis)));
}

inline EightPoints locateEight(const float* u, const float* v, const float* w) {
    EightPoints cell;
    const float* coordinates[3] = {u, v, w};
    cell.planeBytes = _mm256_setzero_si256();
    __m256 tiny = _mm256_setzero_ps();
    for (int axis = 0; axis < 3; ++axis) {
        // c - floor(c) wraps every finite coordinate with period 1: [0, 1) stays as it is and 1
        // becomes 0, which samples the same planes with the same weights. NaN and infinity come
        // out as NaN, and sample as 0.
        const __m256 c = _mm256_loadu_ps(coordinates[axis]);
        const __m256 wrapped = _mm256_sub_ps(c, _mm256_floor_ps(c));
        const __m256 unit = _mm256_and_ps(wrapped, _mm256_cmp_ps(wrapped, wrapped, _CMP_ORD_Q));
        const __m256 scaled =
            _mm256_mul_ps(unit, _mm256_set1_ps(static_cast<float>(kVolumeGridSize)));
        // Never negative, so truncation is the floor. The upper plane is always the next one: on
        // a lattice plane its weight is exactly 0.
        const __m256i planes = _mm256_cvttps_epi32(scaled);
        cell.fraction[axis] = _mm256_sub_ps(scaled, _mm256_cvtepi32_ps(planes));
        cell.complement[axis] = _mm256_sub_ps(_mm256_set1_ps(1.0f), cell.fraction[axis]);
        if (axis < 2) {
            const __m256 t = cell.fraction[axis];
            tiny = _mm256_or_ps(
                tiny,
                _mm256_and_ps(_mm256_cmp_ps(t, _mm256_setzero_ps(), _CMP_GT_OQ),
                              _mm256_cmp_ps(t, _mm256_set1_ps(kSmallestWideWeight), _CMP_LT_OQ)));
        }
        const __m256i lowerPlanes =
            _mm256_and_si256(planes, _mm256_set1_epi32(kVolumeGridSize - 1));
        cell.planeBytes = _mm256_or_si256(
            cell.planeBytes, _mm256_sll_epi32(lowerPlanes, _mm_cvtsi32_si128(8 * axis)));
    }
    cell.tinyWeightBits = _mm256_movemask_ps(tiny);
    return cell;
}

template <int kChannels>
inline CornerOffsets cornerOffsets(const EightPoints& cell, std::int32_t channelCount) {
    __m256i lower[3];
    __m256i upper[3];
    for (int axis = 0; axis < 3; ++axis) {
        const __m256i planes =
            _mm256_and_si256(_mm256_srl_epi32(cell.planeBytes, _mm_cvtsi32_si128(8 * axis)),
                             _mm256_set1_epi32(0xFF));
        lower[axis] = axisOffsets<kChannels>(planes, channelCount, axis);
        upper[axis] =
            axisOffsets<kChannels>(_mm256_and_si256(_mm256_sub_epi32(planes, _mm256_set1_epi32(-1)),
                                                    _mm256_set1_epi32(kVolumeGridSize - 1)),
                                   channelCount, axis);
    }
    CornerOffsets at;
    at.lowerX = lower[0];
    at.upperX = upper[0];
    at.rows[0] = _mm256_add_epi32(lower[1], lower[2]);
    at.rows[1] = _mm256_add_epi32(upper[1], lower[2]);
    at.rows[2] = _mm256_add_epi32(lower[1], upper[2]);
    at.rows[3] = _mm256_add_epi32(upper[1], upper[2]);
    at.wrapsX = _mm256_cmpeq_epi32(upper[0], _mm256_setzero_si256());
    at.wrapsXBits = _mm256_movemask_ps(_mm256_castsi256_ps(at.wrapsX));
    return at;
}

// All bits of a record of kChannels bytes, the low bytes of a 64-bit lane.
template <int kChannels>
constexpr long long kRecordBits = (1LL << (8 * kChannels)) - 1;

// Where the channel bytes of x0's and x1's records lie in the 8 bytes fetched for a point: for 3
// and 4 bytes both in one fetch at x0, otherwise x1's in a fetch of its own.
template <int kChannels>
constexpr int kUpperRecordByte = kChannels == 0 ? 0 : kChannels;

// Eight floats of bytes 0 to 255 (as integers) decoded to byte / 255, rounded to float.
inline __m256 decodeBytes(__m256i bytes) {
    const __m256 values = _mm256_cvtepi32_ps(bytes);
    return _mm256_fmadd_ps(values, _mm256_set1_ps(kReciprocalHigh),
                           _mm256_mul_ps(values, _mm256_set1_ps(kReciprocalLow)));
}

// Rounding a double x to float's 24 significant bits in place, to nearest with ties to even, in
// two fused multiply-adds: c = x * 2^29 - x, then x * 2^29 - c. For x in [2^e, 2^(e+1)) above
// 2^e (1 + 2^-29), x * 2^29 - x lies in x * 2^29's binade, where doubles are 2^(e-23) apart, a
// float's spacing at x: c rounds the part of x below that spacing, ties going to c's even end,
// which is x's rounding's even end; the second operation is exact. Below that, and for 0, the
// result is x's float anyway. Right for 0 and every value at least 2^-126, the smallest normal
// float.
constexpr double kDroppedScale = 0x1p29;

// The lowest planes x0, y0 and z0 among some groups' points, and how many planes further the
// highest lie.
struct PlaneRange {
    std::uint32_t lowestPlanes;  // x0, y0 and z0 in bytes 0, 1 and 2, as EightPoints::planeBytes
    std::uint32_t spans;

    int lowest(int axis) const { return static_cast<int>(lowestPlanes >> (8 * axis) & 0xFF); }
    int span(int axis) const { return static_cast<int>(spans >> (8 * axis) & 0xFF); }
    // Each point's plane along `axis` (EightPoints::planeBytes) less the lowest, in 32-bit lanes.
    __m256i above(__m256i planeBytes, int axis) const {
        const __m256i relative =
            _mm256_sub_epi8(planeBytes, _mm256_set1_epi32(static_cast<int>(lowestPlanes)));
        return _mm256_and_si256(_mm256_srl_epi32(relative, _mm_cvtsi32_si128(8 * axis)),
                                _mm256_set1_epi32(0xFF));
    }
};

// The records from the lowest x0 of `range` onwards, four and then some, in the row dy and dz
// planes above its lowest y0 and z0 (wrapped). Read only where that x0 is 124 or less: the
// block's padding covers the bytes past the last record.
template <int kChannels>
inline __m128i fourRecords(const unsigned char* records, const PlaneRange& range, int dy, int dz) {
    constexpr int kWrap = kVolumeGridSize - 1;
    const std::size_t record = std::size_t(range.lowest(0)) |
                               std::size_t((range.lowest(1) + dy) & kWrap) << 7 |
                               std::size_t((range.lowest(2) + dz) & kWrap) << 14;
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(records + record * kChannels));
}

// Combines the eight 32-bit lanes of `lanes` into one with `combine`, applied lane-wise.
template <class Combine>
inline std::uint32_t acrossLanes(__m256i lanes, Combine combine) {
    lanes = combine(lanes, _mm256_permute2x128_si256(lanes, lanes, 1));
    lanes = combine(lanes, _mm256_shuffle_epi32(lanes, 0x4E));
    lanes = combine(lanes, _mm256_shuffle_epi32(lanes, 0xB1));
    return static_cast<std::uint32_t>(_mm256_cvtsi256_si32(lanes));
}

// The plane range of `count` groups' cells (Lanes::Cell), byte by byte.
template <class Cell>
inline PlaneRange planeRange(const Cell* cells, int count) {
    __m256i lowest = cells[0].at.planeBytes;
    __m256i highest = lowest;
    for (int unit = 1; unit < count; ++unit) {
        lowest = _mm256_min_epu8(lowest, cells[unit].at.planeBytes);
        highest = _mm256_max_epu8(highest, cells[unit].at.planeBytes);
    }
    PlaneRange range;
    range.lowestPlanes =
        acrossLanes(lowest, [](__m256i a, __m256i b) { return _mm256_min_epu8(a, b); });
    // Each byte of the highest is at least the same byte of the lowest: no borrows.
    range.spans = acrossLanes(highest, [](__m256i a, __m256i b) { return _mm256_max_epu8(a, b); }) -
                  range.lowestPlanes;
    return range;
}

#ifdef __AVX512F__
// Where channel 0 of record k of row j of a neighbourhood plane (see Avx512Lanes::Nearby) lies:
// byte 16 j + k kChannels, in 32-bit lane 4 j + k.
template <int kChannels>
inline __m512i nearbyByteIndices() {
    constexpr int c = kChannels;
    return _mm512_setr_epi32(0, c, 2 * c, 3 * c, 16, 16 + c, 16 + 2 * c, 16 + 3 * c, 32, 32 + c,
                             32 + 2 * c, 32 + 3 * c, 48, 48 + c, 48 + 2 * c, 48 + 3 * c);
}

// Eight points per vector of doubles. ChannelBytes picks a channel's bytes out of a row's
// fetches: `pick<kChannels>(row, channel)` gives x0's bytes as integers in 32-bit lanes 0 to
// 7 and x1's in lanes 8 to 15.
template <class ChannelBytes>
struct Avx512Lanes {
    static constexpr std::size_t kWidth = 8;
    using Double = __m512d;
    struct Cell {
        EightPoints at;
        __m512d fraction[3];
        __m512d complement[3];
    };
    // A row's 8-byte fetches at x0, and at x1 where x1's record is not among those bytes.
    struct Row {
        __m512i lower;
        __m512i upper;
    };

    // Two groups side by side, each in one part: thirty-two vector registers hold both.
    static constexpr int kGroups = 2;
    static constexpr int kParts = 1;
    using Part = Avx512Lanes;
    static const Cell& partCell(const Cell& cell, int) { return cell; }
    static const Row& partRow(const Row& row, int) { return row; }

    static Cell locate(const float* u, const float* v, const float* w) {
        Cell cell;
        cell.at = locateEight(u, v, w);
        for (int axis = 0; axis < 3; ++axis) {
            cell.fraction[axis] = _mm512_cvtps_pd(cell.at.fraction[axis]);
            cell.complement[axis] = _mm512_cvtps_pd(cell.at.complement[axis]);
        }
        return cell;
    }

    template <int kChannels>
    static Row fetch(const unsigned char* records, std::int32_t channelCount, const Cell& cell,
                     int row) {
        Row out;
        const CornerOffsets at = cornerOffsets<kChannels>(cell.at, channelCount);
        const __m256i rowStart = at.rows[row];
        const __m256i upperX = _mm256_add_epi32(rowStart, at.upperX);
        out.lower = _mm512_i32gather_epi64(_mm256_add_epi32(rowStart, at.lowerX), records, 1);
        if (kChannels == 0) {
            out.upper = _mm512_i32gather_epi64(upperX, records, 1);
        } else if (at.wrapsXBits != 0) {
            // x1's record, at the row's start, in place of the bytes after x0's.
            const auto wraps = static_cast<__mmask8>(at.wrapsXBits);
            const __m512i first = _mm512_mask_i32gather_epi64(out.lower, wraps, upperX, records, 1);
            out.lower = _mm512_mask_or_epi64(
                out.lower, wraps,
                _mm512_and_si512(out.lower, _mm512_set1_epi64(kRecordBits<kChannels>)),
                _mm512_slli_epi64(first, 8 * kChannels));
            out.upper = out.lower;
        } else {
            out.upper = out.lower;
        }
        return out;
    }

    // Sixteen bytes, as integers in 32-bit lanes, decoded to byte / 255 in double: lanes 0 to 7
    // to `first`, 8 to 15 to `last`.
    static void decodeWide(__m512i bytes, __m512d& first, __m512d& last) {
        const __m512 values = _mm512_cvtepi32_ps(bytes);
        const __m512 decoded =
            _mm512_fmadd_ps(values, _mm512_set1_ps(kReciprocalHigh),
                            _mm512_mul_ps(values, _mm512_set1_ps(kReciprocalLow)));
        first = _mm512_cvtps_pd(_mm512_castps512_ps256(decoded));
        last =
            _mm512_cvtps_pd(_mm256_castpd_ps(_mm512_extractf64x4_pd(_mm512_castps_pd(decoded), 1)));
    }

    template <int kChannels>
    static void decode(const Row& row, int channel, __m512d& lower, __m512d& upper) {
        decodeWide(ChannelBytes::template pick<kChannels>(row, channel), lower, upper);
    }

    // On coherent points, groups side by side often lie within a few neighbouring cells. Their
    // records are then read from that neighbourhood and decoded once per channel, instead of
    // fetched and decoded for every point: x0 of every point lies within two planes of the
    // lowest (no wrap), and the points' y0 and z0 lie in one plane along one axis (the steady
    // one) and within one plane of the lowest along the other (the varying one).
    static constexpr bool kNearbyCorners = true;
    template <int kUnits>
    struct Nearby {
        // For plane p of the steady axis from the lowest: 128-bit lane j holds the four records
        // from the lowest x0 in row j along the varying axis from the lowest.
        __m512i planes[2];
        // Each point's x0 record as an index into a plane's rows 0 to 2, decoded to doubles
        // (four per row), one step along the varying axis further per step.
        __m512i lower[kUnits][2];
    };

    // The neighbourhood of kUnits groups of located points, and its varying axis (1: y, 2: z),
    // or 0 where the points lie too far apart.
    template <int kChannels, int kUnits>
    static int gatherNearby(const unsigned char* records, const Cell* cells,
                            Nearby<kUnits>& nearby) {
        const PlaneRange range = planeRange(cells, kUnits);
        if (range.span(0) > 2 || range.lowest(0) > kVolumeGridSize - 4) return 0;
        int varying = 0;
        if (range.span(2) == 0 && range.span(1) <= 1) {
            varying = 1;
        } else if (range.span(1) == 0 && range.span(2) <= 1) {
            varying = 2;
        } else {
            return 0;
        }
        const auto row = [&](int steadyStep, int varyingStep) {
            const int dy = varying == 1 ? varyingStep : steadyStep;
            const int dz = varying == 1 ? steadyStep : varyingStep;
            return fourRecords<kChannels>(records, range, dy, dz);
        };
        for (int step = 0; step < 2; ++step) {
            nearby.planes[step] = _mm512_inserti32x4(
                _mm512_inserti32x4(_mm512_castsi128_si512(row(step, 0)), row(step, 1), 1),
                row(step, 2), 2);
        }
        for (int unit = 0; unit < kUnits; ++unit) {
            const __m256i planeBytes = cells[unit].at.planeBytes;
            const __m512i index = _mm512_cvtepi32_epi64(
                _mm256_add_epi32(range.above(planeBytes, 0),
                                 _mm256_slli_epi32(range.above(planeBytes, varying), 2)));
            nearby.lower[unit][0] = index;
            nearby.lower[unit][1] = _mm512_add_epi64(index, _mm512_set1_epi64(4));
        }
        return varying;
    }

    template <int kChannels, int kUnits, int kVaryingAxis>
    struct NearbyCorners {
        const Nearby<kUnits>* nearby;

        struct Channel {
            const Nearby<kUnits>* nearby;
            // Per plane of the steady axis: rows 0 and 1 decoded, then row 2.
            __m512d firstRows[2];
            __m512d lastRow[2];

            void decode(int unit, int row, __m512d& lower, __m512d& upper) const {
                // Rows in the order (y0, z0), (y1, z0), (y0, z1), (y1, z1).
                const int step = kVaryingAxis == 1 ? row & 1 : row >> 1;
                const int plane = kVaryingAxis == 1 ? row >> 1 : row & 1;
                const __m512i index = nearby->lower[unit][step];
                lower = _mm512_permutex2var_pd(firstRows[plane], index, lastRow[plane]);
                upper = _mm512_permutex2var_pd(firstRows[plane],
                                               _mm512_add_epi64(index, _mm512_set1_epi64(1)),
                                               lastRow[plane]);
            }
        };

        Channel forChannel(int channel) const {
            Channel out;
            out.nearby = nearby;
            for (int plane = 0; plane < 2; ++plane) {
                decodeWide(
                    ChannelBytes::template nearbyBytes<kChannels>(nearby->planes[plane], channel),
                    out.firstRows[plane], out.lastRow[plane]);
            }
            return out;
        }
    };

    template <int kChannels, int kVaryingAxis, int kUnits>
    static NearbyCorners<kChannels, kUnits, kVaryingAxis> nearbyCorners(
        const Nearby<kUnits>& nearby, int) {
        return {&nearby};
    }

    // Both products are exact in double, so fusing the add rounds once, as the sum does.
    static __m512d blend(__m512d a, __m512d b, __m512d t, __m512d m) {
        return _mm512_fmadd_pd(a, m, _mm512_mul_pd(b, t));
    }
    static __m512d round(__m512d value) { return _mm512_cvtps_pd(_mm512_cvtpd_ps(value)); }
    static __m512d roundNormal(__m512d value) {
        const __m512d scale = _mm512_set1_pd(kDroppedScale);
        return _mm512_fmsub_pd(value, scale, _mm512_fmsub_pd(value, scale, value));
    }
    static void store(float* samples, __m512d value) {
        _mm256_storeu_ps(samples, _mm512_cvtpd_ps(value));
    }
};
#endif

}  // namespace

}  // namespace batchkernels
