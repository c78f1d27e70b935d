// The AVX-512 batch kernel with VBMI: one two-source byte permutation picks a channel's bytes of
// x0's and x1's records for all eight points. Built with AVX-512F, BW, VBMI, AVX2 and FMA enabled
// for this file only; called only where the processor has them.
#include "BatchKernels.h"

#if VOXLUM_X86_KERNELS

#include "BatchAvx.h"

namespace batchkernels {

namespace {

struct PermutedBytes {
    template <int kChannels>
    static __m512i pick(const Avx512Lanes<PermutedBytes>::Row& row, int channel) {
        // Byte indices into (row.lower, row.upper), 64 and up naming row.upper's bytes; only
        // the lowest byte of each 32-bit lane is kept, the rest is zeroed by the mask.
        constexpr int kUpper = kChannels == 0 ? 64 : kChannels;
        const __m512i lanes =
            _mm512_setr_epi32(0, 8, 16, 24, 32, 40, 48, 56, kUpper, kUpper + 8, kUpper + 16,
                              kUpper + 24, kUpper + 32, kUpper + 40, kUpper + 48, kUpper + 56);
        constexpr __mmask64 kLowestBytes = 0x1111111111111111ULL;
        return _mm512_maskz_permutex2var_epi8(kLowestBytes, row.lower,
                                              _mm512_add_epi32(lanes, _mm512_set1_epi32(channel)),
                                              row.upper);
    }

    template <int kChannels>
    static __m512i nearbyBytes(__m512i rows, int channel) {
        constexpr __mmask64 kLowestBytes = 0x1111111111111111ULL;
        return _mm512_maskz_permutexvar_epi8(
            kLowestBytes,
            _mm512_add_epi32(nearbyByteIndices<kChannels>(), _mm512_set1_epi32(channel)), rows);
    }
};

}  // namespace

BatchFunction avx512VbmiBatchKernel(std::int32_t channelCount) {
    return batchForRecordSize<Avx512Lanes<PermutedBytes>>(channelCount);
}

}  // namespace batchkernels

#endif
