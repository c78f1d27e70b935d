// Vector kernels: records are decoded in float two at a time, and the four channels of a
// record travel as one vector of doubles, so each interpolation step is a product, a fused add
// and a round trip through float, exactly the portable kernel's arithmetic. Built with per-function
// target attributes, so the library itself still runs on any x86 processor and only calls these
// where they are usable.
#include "SamplerKernels.h"

#if VOXLUM_X86_KERNELS

#include <cstring>

#include "X86Intrinsics.h"

#define VOXLUM_TARGET_AVX2 __attribute__((target("avx2,fma")))
#define VOXLUM_TARGET_AVX512 __attribute__((target("avx512f,avx2,fma")))

namespace samplerkernels {

namespace {

// byte / 255 in float is correctly rounded, so for every byte it equals the division in double
// rounded to float: a record is decoded in float, four or eight channels at a time.
constexpr bool floatDivisionMatchesDouble() {
    for (int i = 0; i < 256; ++i) {
        if (static_cast<float>(i) / 255.0f != static_cast<float>(i / 255.0)) return false;
    }
    return true;
}
static_assert(floatDivisionMatchesDouble(), "byte decoding in float must stay exact");

std::int32_t loadWord(const unsigned char* bytes) {
    std::int32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

// Where the eight corner records of a sample lie: records + rows[i] + lowerX or upperX, rows in
// the order (y0, z0), (y1, z0), (y0, z1), (y1, z1); and the weights t and 1 - t along x, y and z
// in lanes 0 to 2.
struct Cell {
    const unsigned char* lowerX;
    const unsigned char* upperX;
    std::uint32_t rows[4];
    __m256d fraction;
    __m256d complement;
};

// Byte offsets of lattice planes along x, y and z, lower planes in the low half and upper ones
// in the high half. kChannels is the record size, or 0 for any size given at run time.
template <int kChannels>
VOXLUM_TARGET_AVX2 inline __m256i planeOffsets(__m256i planes, std::int32_t channelCount) {
    constexpr int kRow = kVolumeGridSize;
    constexpr int kSlice = kVolumeGridSize * kVolumeGridSize;
    if constexpr (kChannels == 4) {
        static_assert(kRow == 1 << 7 && kSlice == 1 << 14, "strides of 4-byte records are shifts");
        return _mm256_sllv_epi32(planes, _mm256_setr_epi32(2, 9, 16, 0, 2, 9, 16, 0));
    } else if constexpr (kChannels == 3) {
        return _mm256_mullo_epi32(
            planes, _mm256_setr_epi32(3, 3 * kRow, 3 * kSlice, 0, 3, 3 * kRow, 3 * kSlice, 0));
    } else {
        const __m256i strides =
            _mm256_mullo_epi32(_mm256_set1_epi32(channelCount),
                               _mm256_setr_epi32(1, kRow, kSlice, 0, 1, kRow, kSlice, 0));
        return _mm256_mullo_epi32(planes, strides);
    }
}

template <int kChannels>
VOXLUM_TARGET_AVX2 inline Cell locate(const unsigned char* records, std::int32_t channelCount,
                                      float u, float v, float w) {
    // c - floor(c) wraps every finite coordinate with period 1 without a branch. It leaves
    // [0, 1) unchanged and maps 1 to 0, which samples the same planes with the same fraction.
    // NaN and infinity come out as NaN, and sample as 0.
    const __m128 coordinates = _mm_setr_ps(u, v, w, 0.0f);
    const __m128 wrapped = _mm_sub_ps(coordinates, _mm_floor_ps(coordinates));
    const __m128 unit = _mm_and_ps(wrapped, _mm_cmpord_ps(wrapped, wrapped));
    const __m128 scaled = _mm_mul_ps(unit, _mm_set1_ps(static_cast<float>(kVolumeGridSize)));
    // Never negative, so truncation is the floor. The upper plane is always the next one: on a
    // lattice plane its weight is exactly 0, and a * 1 + b * 0 is a, as with the ceiling.
    const __m128i lower = _mm_cvttps_epi32(scaled);
    const __m128 fraction = _mm_sub_ps(scaled, _mm_cvtepi32_ps(lower));
    const __m128 complement = _mm_sub_ps(_mm_set1_ps(1.0f), fraction);
    const __m256i planes =
        _mm256_and_si256(_mm256_set_m128i(_mm_sub_epi32(lower, _mm_set1_epi32(-1)), lower),
                         _mm256_set1_epi32(kVolumeGridSize - 1));
    const __m256i offsets = planeOffsets<kChannels>(planes, channelCount);
    // (x0 x1 y0 y1) and (z0 z1 0 0), then the four rows y + z.
    const __m128i lowerOffsets = _mm256_castsi256_si128(offsets);
    const __m128i upperOffsets = _mm256_extracti128_si256(offsets, 1);
    const __m128i xy = _mm_unpacklo_epi32(lowerOffsets, upperOffsets);
    const __m128i z = _mm_unpackhi_epi32(lowerOffsets, upperOffsets);
    const __m128i rows = _mm_add_epi32(_mm_shuffle_epi32(xy, _MM_SHUFFLE(3, 2, 3, 2)),
                                       _mm_shuffle_epi32(z, _MM_SHUFFLE(1, 1, 0, 0)));
    Cell cell;
    cell.lowerX = records + static_cast<std::uint32_t>(_mm_cvtsi128_si32(xy));
    cell.upperX = records + static_cast<std::uint32_t>(_mm_extract_epi32(xy, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(cell.rows), rows);
    cell.fraction = _mm256_cvtps_pd(fraction);
    cell.complement = _mm256_cvtps_pd(complement);
    return cell;
}

// Lane `axis` of `weights` in every lane.
template <int axis>
VOXLUM_TARGET_AVX2 inline __m256d spread(__m256d weights) {
    return _mm256_permute4x64_pd(weights, axis * 0x55);
}

VOXLUM_TARGET_AVX2 inline __m256d roundToFloat(__m256d values) {
    return _mm256_cvtps_pd(_mm256_cvtpd_ps(values));
}

// a * m + b * t before the final rounding to float.
VOXLUM_TARGET_AVX2 inline __m256d blend(__m256d a, __m256d b, __m256d t, __m256d m) {
    return _mm256_fmadd_pd(a, m, _mm256_mul_pd(b, t));
}

VOXLUM_TARGET_AVX2 inline VoxelSample toSample(__m128 values) {
    VoxelSample sample;
    static_assert(sizeof sample == sizeof values, "a sample is four packed floats");
    std::memcpy(&sample, &values, sizeof sample);
    return sample;
}

// Two records' first four bytes as eight floats in [0, 1]; an RGB record's fourth byte belongs
// to the next record, so its lane is replaced by an opaque alpha.
template <int kChannels>
VOXLUM_TARGET_AVX2 inline __m256 decodeRecords(const unsigned char* first,
                                               const unsigned char* second) {
    const __m128i words = _mm_insert_epi32(_mm_cvtsi32_si128(loadWord(first)), loadWord(second), 1);
    const __m256 values =
        _mm256_div_ps(_mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(words)), _mm256_set1_ps(255.0f));
    return kChannels == 3 ? _mm256_blend_ps(values, _mm256_set1_ps(1.0f), 0x88) : values;
}

// The two records of the row at offset `row`, blended along x.
template <int kChannels>
VOXLUM_TARGET_AVX2 inline __m256d blendAlongX(const Cell& cell, std::uint32_t row, __m256d t,
                                              __m256d m) {
    const __m256 records = decodeRecords<kChannels>(cell.lowerX + row, cell.upperX + row);
    return roundToFloat(blend(_mm256_cvtps_pd(_mm256_castps256_ps128(records)),
                              _mm256_cvtps_pd(_mm256_extractf128_ps(records, 1)), t, m));
}

// The last step of every vector kernel: the (y, z0) and (y, z1) blends blended along z.
VOXLUM_TARGET_AVX2 inline VoxelSample blendAlongZ(const Cell& cell, __m256d f0, __m256d f1) {
    return toSample(
        _mm256_cvtpd_ps(blend(f0, f1, spread<2>(cell.fraction), spread<2>(cell.complement))));
}

struct Avx2 {
    template <int kChannels>
    VOXLUM_TARGET_AVX2 static VoxelSample sample(const unsigned char* records,
                                                 std::int32_t channelCount, float u, float v,
                                                 float w) {
        const Cell cell = locate<kChannels>(records, channelCount, u, v, w);
        const __m256d tx = spread<0>(cell.fraction);
        const __m256d mx = spread<0>(cell.complement);
        const __m256d e00 = blendAlongX<kChannels>(cell, cell.rows[0], tx, mx);
        const __m256d e10 = blendAlongX<kChannels>(cell, cell.rows[1], tx, mx);
        const __m256d e01 = blendAlongX<kChannels>(cell, cell.rows[2], tx, mx);
        const __m256d e11 = blendAlongX<kChannels>(cell, cell.rows[3], tx, mx);
        const __m256d ty = spread<1>(cell.fraction);
        const __m256d my = spread<1>(cell.complement);
        return blendAlongZ(cell, roundToFloat(blend(e00, e10, ty, my)),
                           roundToFloat(blend(e01, e11, ty, my)));
    }
};

// Records of the rows (y, z0) and (y, z1) at one x, side by side in eight doubles.
template <int kChannels>
VOXLUM_TARGET_AVX512 inline __m512d decodeRecordPair(const unsigned char* first,
                                                     const unsigned char* second) {
    return _mm512_cvtps_pd(decodeRecords<kChannels>(first, second));
}

template <int axis>
VOXLUM_TARGET_AVX512 inline __m512d spread512(__m256d weights) {
    return _mm512_permutexvar_pd(_mm512_set1_epi64(axis), _mm512_castpd256_pd512(weights));
}

VOXLUM_TARGET_AVX512 inline __m512d blend(__m512d a, __m512d b, __m512d t, __m512d m) {
    return _mm512_fmadd_pd(a, m, _mm512_mul_pd(b, t));
}

// Rows (y, z0) and (y, z1) blended along x: the first in the low half, the second in the high.
template <int kChannels>
VOXLUM_TARGET_AVX512 inline __m512d blendAlongX(const Cell& cell, std::uint32_t rowZ0,
                                                std::uint32_t rowZ1, __m512d t, __m512d m) {
    const __m512d lowerX = decodeRecordPair<kChannels>(cell.lowerX + rowZ0, cell.lowerX + rowZ1);
    const __m512d upperX = decodeRecordPair<kChannels>(cell.upperX + rowZ0, cell.upperX + rowZ1);
    return _mm512_cvtps_pd(_mm512_cvtpd_ps(blend(lowerX, upperX, t, m)));
}

// The x blends of the z0 and z1 rows share one vector, so do the y blends; only the z blend
// works on half a vector.
struct Avx512 {
    template <int kChannels>
    VOXLUM_TARGET_AVX512 static VoxelSample sample(const unsigned char* records,
                                                   std::int32_t channelCount, float u, float v,
                                                   float w) {
        const Cell cell = locate<kChannels>(records, channelCount, u, v, w);
        const __m512d tx = spread512<0>(cell.fraction);
        const __m512d mx = spread512<0>(cell.complement);
        const __m512d ey0 = blendAlongX<kChannels>(cell, cell.rows[0], cell.rows[2], tx, mx);
        const __m512d ey1 = blendAlongX<kChannels>(cell, cell.rows[1], cell.rows[3], tx, mx);
        const __m512d ty = spread512<1>(cell.fraction);
        const __m512d my = spread512<1>(cell.complement);
        // f0 in the low half, f1 in the high half.
        const __m256 f = _mm512_cvtpd_ps(blend(ey0, ey1, ty, my));
        return blendAlongZ(cell, _mm256_cvtps_pd(_mm256_castps256_ps128(f)),
                           _mm256_cvtps_pd(_mm256_extractf128_ps(f, 1)));
    }
};

// Records of 3 and 4 bytes, the usual RGB and RGBA, have kernels of their own with constant
// strides; other sizes read theirs at run time.
template <class InstructionSet>
SampleFunction kernelForRecordSize(std::int32_t channelCount) {
    switch (channelCount) {
        case 3:
            return InstructionSet::template sample<3>;
        case 4:
            return InstructionSet::template sample<4>;
        default:
            return InstructionSet::template sample<0>;
    }
}

}  // namespace

SampleFunction avx2Kernel(std::int32_t channelCount) {
    return kernelForRecordSize<Avx2>(channelCount);
}

SampleFunction avx512Kernel(std::int32_t channelCount) {
    return kernelForRecordSize<Avx512>(channelCount);
}

}  // namespace samplerkernels

#endif
