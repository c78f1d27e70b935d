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

    static Cell locate(const float* u, const float* v, const float* w) {
        return {locateEight(u, v, w)};
    }

    static __m256i gather(const unsigned char* records, __m128i offsets) {
        return _mm256_i32gather_epi64(reinterpret_cast<const long long*>(records), offsets, 1);
    }

    template <int kChannels>
    static Row fetch(const unsigned char* records, std::int32_t channelCount, const Cell& cell,
                     int row) {
        Row out;
        const CornerOffsets at = cornerOffsets<kChannels>(cell.at, channelCount);
        const __m256i rowStart = at.rows[row];
        const __m256i lowerX = _mm256_add_epi32(rowStart, at.lowerX);
        const __m256i upperX = _mm256_add_epi32(rowStart, at.upperX);
        for (int which = 0; which < 2; ++which) {
            out.lower[which] = gather(records, half(lowerX, which));
            if (kChannels == 0) {
                out.upper[which] = gather(records, half(upperX, which));
            } else if ((at.wrapsXBits >> (4 * which) & 15) != 0) {
                // x1's record, at the row's start, in place of the bytes after x0's.
                const __m256i wraps = _mm256_cvtepi32_epi64(half(at.wrapsX, which));
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

    // On coherent points the eight points of a group often share their four rows and lie within
    // three cells along x. Their records are then read from those rows, four from the lowest x0
    // (no wrap), and decoded once per group into tables the points' records are picked from.
    static constexpr bool kNearbyCorners = true;
    template <int kUnits>
    struct Nearby {
        static_assert(kUnits == 1, "groups are blended one at a time");
        // Per channel and row: the four records from the lowest x0, decoded to doubles.
        alignas(32) double tables[4][4][4];
        // Per part: where each point's x0 record lies in a row's table, as the pair of float
        // lanes holding its double.
        __m256i lower[kParts];
    };

    // The rows shared by a group's points (1), or 0 where the points do not share them.
    template <int kChannels, int kUnits>
    static int gatherNearby(const unsigned char* records, const Cell* cells,
                            Nearby<kUnits>& nearby) {
        const PlaneRange range = planeRange(cells, 1);
        if (range.span(0) > 2 || range.lowest(0) > kVolumeGridSize - 4 || range.span(1) != 0 ||
            range.span(2) != 0) {
            return 0;
        }
        const auto rowPair = [&](int first) {
            const auto row = [&](int which) {
                return fourRecords<kChannels>(records, range, which & 1, which >> 1);
            };
            return _mm256_inserti128_si256(_mm256_castsi128_si256(row(first)), row(first + 1), 1);
        };
        const __m256i rows[2] = {rowPair(0), rowPair(2)};
        const __m256i records4 =
            _mm256_setr_epi32(pick(0), pick(kChannels), pick(2 * kChannels), pick(3 * kChannels),
                              pick(0), pick(kChannels), pick(2 * kChannels), pick(3 * kChannels));
        constexpr int kDecoded = kChannels == 3 ? 3 : 4;
        for (int channel = 0; channel < kDecoded; ++channel) {
            const __m256i byte = _mm256_add_epi32(records4, _mm256_set1_epi32(channel));
            for (int pair = 0; pair < 2; ++pair) {
                const __m256 decoded = decodeBytes(_mm256_shuffle_epi8(rows[pair], byte));
                double* first = nearby.tables[channel][2 * pair];
                _mm256_store_pd(first, _mm256_cvtps_pd(_mm256_castps256_ps128(decoded)));
                _mm256_store_pd(first + 4, _mm256_cvtps_pd(_mm256_extractf128_ps(decoded, 1)));
            }
        }
        const __m256i alongX = range.above(cells[0].at.planeBytes, 0);
        for (int which = 0; which < kParts; ++which) {
            // Lanes 2 k and 2 k + 1 of the float view of a double table hold double k.
            const __m256i twice = _mm256_slli_epi64(_mm256_cvtepu32_epi64(half(alongX, which)), 1);
            nearby.lower[which] =
                _mm256_add_epi64(_mm256_or_si256(twice, _mm256_slli_epi64(twice, 32)),
                                 _mm256_set1_epi64x(1LL << 32));
        }
        return 1;
    }

    struct NearbyCorners {
        const double (*tables)[4][4];
        __m256i lower;

        struct Channel {
            const double (*rows)[4];
            __m256i lower;

            void decode(int, int row, __m256d& lowerRecords, __m256d& upperRecords) const {
                const __m256 table = _mm256_castpd_ps(_mm256_load_pd(rows[row]));
                lowerRecords = _mm256_castps_pd(_mm256_permutevar8x32_ps(table, lower));
                upperRecords = _mm256_castps_pd(
                    _mm256_permutevar8x32_ps(table, _mm256_add_epi32(lower, _mm256_set1_epi32(2))));
            }
        };
        Channel forChannel(int channel) const { return {tables[channel], lower}; }
    };

    template <int kChannels, int kLayout, int kUnits>
    static NearbyCorners nearbyCorners(const Nearby<kUnits>& nearby, int part) {
        return {nearby.tables, nearby.lower[part]};
    }
};

}  // namespace

BatchFunction avx2BatchKernel(std::int32_t channelCount) {
    return batchForRecordSize<Avx2Lanes>(channelCount);
}

}  // namespace batchkernels

#endif
