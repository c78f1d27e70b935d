// The AVX-512 batch kernel for processors without VBMI: bytes are picked out of the fetched
// records with shifts and narrowing moves. Built with AVX-512F, AVX2 and FMA enabled for this
// file only; called only where the processor has them.
#include "BatchKernels.h"

#if VOXLUM_X86_KERNELS

#include "BatchAvx.h"

namespace batchkernels {

namespace {

struct ShiftedBytes {
    template <int kChannels>
    static __m512i pick(const Avx512Lanes<ShiftedBytes>::Row& row, int channel) {
        const __m256i lower =
            _mm512_cvtepi64_epi32(_mm512_srl_epi64(row.lower, _mm_cvtsi32_si128(8 * channel)));
        const __m256i upper = _mm512_cvtepi64_epi32(_mm512_srl_epi64(
            row.upper, _mm_cvtsi32_si128(8 * (kUpperRecordByte<kChannels> + channel))));
        return _mm512_and_si512(_mm512_inserti64x4(_mm512_castsi256_si512(lower), upper, 1),
                                _mm512_set1_epi32(0xFF));
    }

    // The byte from the 32-bit word holding it, shifted down.
    template <int kChannels>
    static __m512i nearbyBytes(__m512i rows, int channel) {
        const __m512i bytes =
            _mm512_add_epi32(nearbyByteIndices<kChannels>(), _mm512_set1_epi32(channel));
        const __m512i words = _mm512_permutexvar_epi32(_mm512_srli_epi32(bytes, 2), rows);
        const __m512i shifts = _mm512_slli_epi32(_mm512_and_si512(bytes, _mm512_set1_epi32(3)), 3);
        return _mm512_and_si512(_mm512_srlv_epi32(words, shifts), _mm512_set1_epi32(0xFF));
    }
};

}  // namespace

BatchFunction avx512BatchKernel(std::int32_t channelCount) {
    return batchForRecordSize<Avx512Lanes<ShiftedBytes>>(channelCount);
}

}  // namespace batchkernels

#endif
