// Vector kernels: the four channels of a record travel as one vector of doubles, so each
// interpolation step is a product, a fused add and a round trip through float, exactly the
// portable kernel's arithmetic. Built with per-function target attributes, so the library
// itself still runs on any x86 processor and only calls these where they are usable.
#include "SamplerKernels.h"

#if VOXLUM_X86_KERNELS

// GCC 12 reports the deliberately undefined vectors inside its own AVX-512 headers.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

#include <cstring>

#define VOXLUM_TARGET_AVX2 __attribute__((target("avx2,fma")))
#define VOXLUM_TARGET_AVX512 __attribute__((target("avx512f,avx2,fma")))

namespace samplerkernels {

namespace {

// 1 / 255 in double: i * (1 / 255) rounds to the same float as i / 255 for every byte i.
constexpr double kUnitPerByte = 1.0 / 255.0;
constexpr bool reciprocalMatchesDivision() {
    for (int i = 0; i < 256; ++i) {
        if (static_cast<float>(i * kUnitPerByte) != static_cast<float>(i / 255.0)) return false;
    }
    return true;
}
static_assert(reciprocalMatchesDivision(), "byte decoding by multiplication must stay exact");

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
    std::size_t rows[4];
    __m256d fraction;
    __m256d complement;
};

VOXLUM_TARGET_AVX2 inline Cell locate(const unsigned char* records, std::int32_t channelCount,
                                      float u, float v, float w) {
    // c - floor(c) wraps every finite coordinate with period 1 without a branch. It leaves
    // [0, 1) unchanged and maps 1 to 0, which samples the same planes with the same fraction.
    // NaN and infinity come out as NaN, and sample as 0.
    const __m128 coordinates = _mm_setr_ps(u, v, w, 0.0f);
    const __m128 wrapped = _mm_sub_ps(coordinates, _mm_floor_ps(coordinates));
    const __m128 unit = _mm_and_ps(wrapped, _mm_cmpord_ps(wrapped, wrapped));
    const __m128 scaled = _mm_mul_ps(unit, _mm_set1_ps(static_cast<float>(kVolumeGridSize)));
    // Never negative, so truncation is the floor; the ceiling adds one off the lattice planes.
    const __m128i lower = _mm_cvttps_epi32(scaled);
    const __m128 lowerPlane = _mm_cvtepi32_ps(lower);
    const __m128i upper = _mm_sub_epi32(lower, _mm_castps_si128(_mm_cmpneq_ps(scaled, lowerPlane)));
    const __m128i strides =
        _mm_mullo_epi32(_mm_set1_epi32(channelCount),
                        _mm_setr_epi32(1, kVolumeGridSize, kVolumeGridSize * kVolumeGridSize, 0));
    const __m128i indexMask = _mm_set1_epi32(kVolumeGridSize - 1);
    const __m128i lowerOffsets = _mm_mullo_epi32(_mm_and_si128(lower, indexMask), strides);
    const __m128i upperOffsets = _mm_mullo_epi32(_mm_and_si128(upper, indexMask), strides);
    const __m128 fraction = _mm_sub_ps(scaled, lowerPlane);
    const __m128 complement = _mm_sub_ps(_mm_set1_ps(1.0f), fraction);

    const auto y0 = static_cast<std::uint32_t>(_mm_extract_epi32(lowerOffsets, 1));
    const auto y1 = static_cast<std::uint32_t>(_mm_extract_epi32(upperOffsets, 1));
    const auto z0 = static_cast<std::uint32_t>(_mm_extract_epi32(lowerOffsets, 2));
    const auto z1 = static_cast<std::uint32_t>(_mm_extract_epi32(upperOffsets, 2));
    return {
        records + static_cast<std::uint32_t>(_mm_cvtsi128_si32(lowerOffsets)),
        records + static_cast<std::uint32_t>(_mm_cvtsi128_si32(upperOffsets)),
        {std::size_t{y0} + z0, std::size_t{y1} + z0, std::size_t{y0} + z1, std::size_t{y1} + z1},
        _mm256_cvtps_pd(fraction),
        _mm256_cvtps_pd(complement)};
}

// Lane `axis` of `weights` in every lane.
template <int axis>
VOXLUM_TARGET_AVX2 inline __m256d spread(__m256d weights) {
    return _mm256_permute4x64_pd(weights, axis * 0x55);
}

// Per-channel scale and offset that map a record's bytes to [0, 1] in one fused step; an RGB
// record's fourth byte belongs to the next record, so it is scaled by 0 and offset to 1.
VOXLUM_TARGET_AVX2 inline __m256d byteScale(std::int32_t channelCount) {
    return _mm256_setr_pd(kUnitPerByte, kUnitPerByte, kUnitPerByte,
                          channelCount == 3 ? 0.0 : kUnitPerByte);
}
VOXLUM_TARGET_AVX2 inline __m256d byteOffset(std::int32_t channelCount) {
    return _mm256_setr_pd(0.0, 0.0, 0.0, channelCount == 3 ? 1.0 : 0.0);
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

VOXLUM_TARGET_AVX2 inline __m256d decodeRecord(const unsigned char* record, __m256d scale,
                                               __m256d offset) {
    const __m128i bytes = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(loadWord(record)));
    return roundToFloat(_mm256_fmadd_pd(_mm256_cvtepi32_pd(bytes), scale, offset));
}

// The two records of the row at offset `row`, blended along x.
VOXLUM_TARGET_AVX2 inline __m256d blendAlongX(const Cell& cell, std::size_t row, __m256d scale,
                                              __m256d offset, __m256d t, __m256d m) {
    return roundToFloat(blend(decodeRecord(cell.lowerX + row, scale, offset),
                              decodeRecord(cell.upperX + row, scale, offset), t, m));
}

// Two records side by side in one vector of eight doubles.
VOXLUM_TARGET_AVX512 inline __m512d decodeRecords(const unsigned char* low,
                                                  const unsigned char* high, __m512d scale,
                                                  __m512d offset) {
    const __m128i words = _mm_insert_epi32(_mm_cvtsi32_si128(loadWord(low)), loadWord(high), 1);
    const __m512d bytes = _mm512_cvtepi32_pd(_mm256_cvtepu8_epi32(words));
    return _mm512_cvtps_pd(_mm512_cvtpd_ps(_mm512_fmadd_pd(bytes, scale, offset)));
}

VOXLUM_TARGET_AVX512 inline __m512d blend(__m512d a, __m512d b, __m512d t, __m512d m) {
    return _mm512_fmadd_pd(a, m, _mm512_mul_pd(b, t));
}

// Rows (y, z0) and (y, z1) blended along x: the first in the low half, the second in the high.
VOXLUM_TARGET_AVX512 inline __m512d blendAlongX(const Cell& cell, std::size_t rowZ0,
                                                std::size_t rowZ1, __m512d scale, __m512d offset,
                                                __m512d t, __m512d m) {
    const __m512d lowerX = decodeRecords(cell.lowerX + rowZ0, cell.lowerX + rowZ1, scale, offset);
    const __m512d upperX = decodeRecords(cell.upperX + rowZ0, cell.upperX + rowZ1, scale, offset);
    return _mm512_cvtps_pd(_mm512_cvtpd_ps(blend(lowerX, upperX, t, m)));
}

}  // namespace

VOXLUM_TARGET_AVX2 VoxelSample sampleAvx2(const unsigned char* records, std::int32_t channelCount,
                                          float u, float v, float w) {
    const Cell cell = locate(records, channelCount, u, v, w);
    const __m256d scale = byteScale(channelCount);
    const __m256d offset = byteOffset(channelCount);
    const __m256d tx = spread<0>(cell.fraction);
    const __m256d mx = spread<0>(cell.complement);
    const __m256d e00 = blendAlongX(cell, cell.rows[0], scale, offset, tx, mx);
    const __m256d e10 = blendAlongX(cell, cell.rows[1], scale, offset, tx, mx);
    const __m256d e01 = blendAlongX(cell, cell.rows[2], scale, offset, tx, mx);
    const __m256d e11 = blendAlongX(cell, cell.rows[3], scale, offset, tx, mx);
    const __m256d ty = spread<1>(cell.fraction);
    const __m256d my = spread<1>(cell.complement);
    const __m256d f0 = roundToFloat(blend(e00, e10, ty, my));
    const __m256d f1 = roundToFloat(blend(e01, e11, ty, my));
    const __m256d tz = spread<2>(cell.fraction);
    const __m256d mz = spread<2>(cell.complement);
    return toSample(_mm256_cvtpd_ps(blend(f0, f1, tz, mz)));
}

// The x blends of the z0 and z1 rows share one vector, so do the y blends; only the z blend
// works on half a vector.
VOXLUM_TARGET_AVX512 VoxelSample sampleAvx512(const unsigned char* records,
                                              std::int32_t channelCount, float u, float v,
                                              float w) {
    const Cell cell = locate(records, channelCount, u, v, w);
    const __m512d scale = _mm512_broadcast_f64x4(byteScale(channelCount));
    const __m512d offset = _mm512_broadcast_f64x4(byteOffset(channelCount));
    const __m512d tx = _mm512_broadcastsd_pd(_mm256_castpd256_pd128(cell.fraction));
    const __m512d mx = _mm512_broadcastsd_pd(_mm256_castpd256_pd128(cell.complement));
    const __m512d ey0 = blendAlongX(cell, cell.rows[0], cell.rows[2], scale, offset, tx, mx);
    const __m512d ey1 = blendAlongX(cell, cell.rows[1], cell.rows[3], scale, offset, tx, mx);
    const __m512d ty = _mm512_broadcastsd_pd(_mm256_castpd256_pd128(spread<1>(cell.fraction)));
    const __m512d my = _mm512_broadcastsd_pd(_mm256_castpd256_pd128(spread<1>(cell.complement)));
    // f0 in the low half, f1 in the high half.
    const __m256 f = _mm512_cvtpd_ps(blend(ey0, ey1, ty, my));
    const __m256d f0 = _mm256_cvtps_pd(_mm256_castps256_ps128(f));
    const __m256d f1 = _mm256_cvtps_pd(_mm256_extractf128_ps(f, 1));
    const __m256d tz = spread<2>(cell.fraction);
    const __m256d mz = spread<2>(cell.complement);
    return toSample(_mm256_cvtpd_ps(blend(f0, f1, tz, mz)));
}

}  // namespace samplerkernels

#endif
