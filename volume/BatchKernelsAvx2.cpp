// The AVX2 batch kernel: eight points per group, their doubles in two vectors of four. Built
// with AVX2 and FMA enabled for this file only; called only where the processor has them.
#include "BatchKernels.h"

#if VOXLUM_X86_KERNELS

#include "BatchAvx.h"

namespace batchkernels {

namespace {

// A shuffle control taking byte `byte` of its 128-bit half into a 32-bit lane, the lane's other
// bytes zero; kNoByte zeroes the whole lane.
constexpr int pick(int byte) { return static_cast<int>(0x80808000u | unsigned(byte)); }
constexpr int kNoByte = pick(0x80);

// Four of a group's points, blended in doubles, one vector each.
struct Avx2Half {
    static constexpr std::size_t kWidth = 4;
    using Double = __m256d;
    struct Cell {
        __m256d fraction[3];
        __m256d complement[3];
    };
    // A row's 8-byte fetches at x0, and at x1 where x1's record is not among those bytes.
    struct Row {
        __m256i lower;
        __m256i upper;
    };

    // Byte `channel` of x0's record into 32-bit lanes 0 and 1 of each 128-bit half (two points
    // per half), x1's into lanes 2 and 3; the other bytes zero.
    template <int kChannels>
    static __m256i channelBytes(const Row& row, int channel) {
        const __m256i byte = _mm256_set1_epi32(channel);
        if (kChannels != 0) {
            // Both records in one fetch: a single shuffle picks all four lanes.
            const __m256i both =
                _mm256_setr_epi32(pick(0), pick(8), pick(kChannels), pick(8 + kChannels), pick(0),
                                  pick(8), pick(kChannels), pick(8 + kChannels));
            return _mm256_shuffle_epi8(row.lower, _mm256_add_epi32(both, byte));
        }
        const __m256i lower = _mm256_setr_epi32(pick(0), pick(8), kNoByte, kNoByte, pick(0),
                                                pick(8), kNoByte, kNoByte);
        const __m256i upper = _mm256_setr_epi32(kNoByte, kNoByte, pick(0), pick(8), kNoByte,
                                                kNoByte, pick(0), pick(8));
        return _mm256_or_si256(_mm256_shuffle_epi8(row.lower, _mm256_add_epi32(lower, byte)),
                               _mm256_shuffle_epi8(row.upper, _mm256_add_epi32(upper, byte)));
    }

    template <int kChannels>
    static void decode(const Row& row, int channel, Double& lower, Double& upper) {
        // Lanes (x0 of points 0 and 1, x1 of 0 and 1 | same for 2 and 3) to
        // (x0 of 0 to 3 | x1 of 0 to 3).
        const __m256 decoded =
            decodeBytes(_mm256_permute4x64_epi64(channelBytes<kChannels>(row, channel), 0xD8));
        lower = _mm256_cvtps_pd(_mm256_castps256_ps128(decoded));
        upper = _mm256_cvtps_pd(_mm256_extractf128_ps(decoded, 1));
    }

    // Both products are exact in double, so fusing the add rounds once, as the sum does.
    static Double blend(Double a, Double b, Double t, Double m) {
        return _mm256_fmadd_pd(a, m, _mm256_mul_pd(b, t));
    }
    static Double round(Double value) { return _mm256_cvtps_pd(_mm256_cvtpd_ps(value)); }
    static Double roundNormal(Double value) {
        const __m256d scale = _mm256_set1_pd(kDroppedScale);
        return _mm256_fmsub_pd(value, scale, _mm256_fmsub_pd(value, scale, value));
    }
    static void store(float* samples, Double value) {
        _mm_storeu_ps(samples, _mm256_cvtpd_ps(value));
    }
};

// Eight points per group, located and fetched together and blended four at a time: all eight
// points' doubles at once would not fit the sixteen vector registers.
struct Avx2Lanes {
    static constexpr std::size_t kWidth = 8;
    static constexpr int kGroups = 1;
    static constexpr int kParts = 2;
    using Part = Avx2Half;
    struct Cell {
        EightPoints at;
    };
    // A row's 8-byte fetches at x0 for points 0 to 3 and 4 to 7, and at x1 where x1's record
    // is not among those bytes.
    struct Row {
        __m256i lower[2];
        __m256i upper[2];
    };

    static __m128 half(__m256 values, int which) {
        return which == 0 ? _mm256_castps256_ps128(values) : _mm256_extractf128_ps(values, 1);
    }
    static __m128i half(__m256i offsets, int which) {
        return which == 0 ? _mm256_castsi256_si128(offsets) : _mm256_extracti128_si256(offsets, 1);
    }

    static Avx2Half::Cell partCell(const Cell& cell, int which) {
        Avx2Half::Cell part;
        for (int axis = 0; axis < 3; ++axis) {
            part.fraction[axis] = _mm256_cvtps_pd(half(cell.at.fraction[axis], which));
            part.complement[axis] = _mm256_cvtps_pd(half(cell.at.complement[axis], which));
        }
        return part;
    }
    static Avx2Half::Row partRow(const Row& row, int which) {
        return {row.lower[which], row.upper[which]};
    }

    template <int kChannels>
    static Cell locate(const unsigned char*, std::int32_t channelCount, const float* u,
                       const float* v, const float* w) {
        return {locateEight<kChannels>(channelCount, u, v, w)};
    }

    static __m256i gather(const unsigned char* records, __m128i offsets) {
        return _mm256_i32gather_epi64(reinterpret_cast<const long long*>(records), offsets, 1);
    }

    template <int kChannels>
    static Row fetch(const unsigned char* records, std::int32_t, const Cell& cell, int row) {
        Row out;
        const __m256i rowStart = cell.at.rows[row];
        const __m256i lowerX = _mm256_add_epi32(rowStart, cell.at.lowerX);
        const __m256i upperX = _mm256_add_epi32(rowStart, cell.at.upperX);
        for (int which = 0; which < 2; ++which) {
            out.lower[which] = gather(records, half(lowerX, which));
            if (kChannels == 0) {
                out.upper[which] = gather(records, half(upperX, which));
            } else if ((cell.at.wrapsXBits >> (4 * which) & 15) != 0) {
                // x1's record, at the row's start, in place of the bytes after x0's.
                const __m256i wraps = _mm256_cvtepi32_epi64(half(cell.at.wrapsX, which));
                const __m256i first = _mm256_mask_i32gather_epi64(
                    out.lower[which], reinterpret_cast<const long long*>(records),
                    half(upperX, which), wraps, 1);
                const __m256i joined = _mm256_or_si256(
                    _mm256_and_si256(out.lower[which], _mm256_set1_epi64x(kRecordBits<kChannels>)),
                    _mm256_slli_epi64(first, 8 * kChannels));
                out.lower[which] = _mm256_blendv_epi8(out.lower[which], joined, wraps);
            }
            if (kChannels != 0) out.upper[which] = out.lower[which];
        }
        return out;
    }
};

}  // namespace

BatchFunction avx2BatchKernel(std::int32_t channelCount) {
    return batchForRecordSize<Avx2Lanes>(channelCount);
}

}  // namespace batchkernels

#endif
