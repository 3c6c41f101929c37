// The SHA-256 block function through the x86 SHA extensions, compiled for them whatever the
// build's target processor and called only where the processor reports them.
#include "archive/sha256_blocks.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

namespace sha256 {
namespace {

bool ProcessorHasShaExtensions() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (__get_cpuid(1, &a, &b, &c, &d) == 0) {
        return false;
    }
    const bool ssse3 = (c & bit_SSSE3) != 0;
    const bool sse41 = (c & bit_SSE4_1) != 0;
    if (__get_cpuid_count(7, 0, &a, &b, &c, &d) == 0) {
        return false;
    }
    return ssse3 && sse41 && (b & bit_SHA) != 0;
}

// The state goes into the two registers that the round instruction takes, as (a, b, e, f) and
// (c, d, g, h) from the top lane down; each group of four rounds adds four message words and their
// constants, two rounds per instruction.
__attribute__((target("sha,sse4.1,ssse3"))) void ShaExtensionBlocks(std::array<uint32_t, 8>& state,
                                                                    const uint8_t* data,
                                                                    size_t blocks) {
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i dcba = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[0]));
    __m128i hgfe = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&state[4]));
    const __m128i cdab = _mm_shuffle_epi32(dcba, 0xB1);
    const __m128i efgh = _mm_shuffle_epi32(hgfe, 0x1B);
    __m128i abef = _mm_alignr_epi8(cdab, efgh, 8);
    __m128i cdgh = _mm_blend_epi16(efgh, cdab, 0xF0);
    for (; blocks > 0; --blocks, data += 64) {
        const __m128i savedAbef = abef;
        const __m128i savedCdgh = cdgh;
        __m128i w[4];
#pragma GCC unroll 16
        for (int group = 0; group < 16; ++group) {
            __m128i& words = w[group & 3];
            if (group < 4) {
                words = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * group)),
                                         byteSwap);
            } else {
                // w[i] from w[i-16], w[i-15] (message 1), w[i-7] and w[i-2] (message 2).
                const __m128i last = w[(group - 1) & 3];
                const __m128i sigma0 = _mm_sha256msg1_epu32(words, w[(group - 3) & 3]);
                const __m128i plus = _mm_add_epi32(sigma0, _mm_alignr_epi8(last, w[(group - 2) & 3], 4));
                words = _mm_sha256msg2_epu32(plus, last);
            }
            __m128i message = _mm_add_epi32(
                words, _mm_loadu_si128(reinterpret_cast<const __m128i*>(&kRoundConstants[4 * group])));
            cdgh = _mm_sha256rnds2_epu32(cdgh, abef, message);
            message = _mm_shuffle_epi32(message, 0x0E);
            abef = _mm_sha256rnds2_epu32(abef, cdgh, message);
        }
        abef = _mm_add_epi32(abef, savedAbef);
        cdgh = _mm_add_epi32(cdgh, savedCdgh);
    }
    const __m128i feba = _mm_shuffle_epi32(abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(cdgh, 0xB1);
    dcba = _mm_blend_epi16(feba, dchg, 0xF0);
    hgfe = _mm_alignr_epi8(dchg, feba, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[0]), dcba);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&state[4]), hgfe);
}

}  // namespace

BlockFunction AcceleratedBlocks() {
    return ProcessorHasShaExtensions() ? &ShaExtensionBlocks : nullptr;
}

}  // namespace sha256

#else

sha256::BlockFunction sha256::AcceleratedBlocks() {
    return nullptr;
}

#endif
