// The AVX2 path of the NN filter: sixteen taps per instruction. This whole file is compiled
// for AVX2 and is only called after the processor was asked for it.
#pragma GCC target("avx2")

#include "pipeline/apennfilter_kernel.h"

#include <immintrin.h>

namespace bw {

namespace {

template <int N> struct TAvx2Kernel {
    static int32_t Dot(const int16_t* c, const int16_t* x) {
        // vpmaddwd sums pairs of 16-bit products into 32 bits, wrapping like the plain sum.
        __m256i acc0 = _mm256_setzero_si256();
        __m256i acc1 = _mm256_setzero_si256();
        int i = 0;
        for (; i + 32 <= N; i += 32) {
            acc0 = _mm256_add_epi32(
                acc0, _mm256_madd_epi16(_mm256_loadu_si256((const __m256i*)(c + i)),
                                        _mm256_loadu_si256((const __m256i*)(x + i))));
            acc1 = _mm256_add_epi32(
                acc1, _mm256_madd_epi16(_mm256_loadu_si256((const __m256i*)(c + i + 16)),
                                        _mm256_loadu_si256((const __m256i*)(x + i + 16))));
        }
        if (i < N)
            acc0 = _mm256_add_epi32(acc0,
                                    _mm256_madd_epi16(_mm256_loadu_si256((const __m256i*)(c + i)),
                                                      _mm256_loadu_si256((const __m256i*)(x + i))));
        acc0 = _mm256_add_epi32(acc0, acc1);
        __m128i acc =
            _mm_add_epi32(_mm256_castsi256_si128(acc0), _mm256_extracti128_si256(acc0, 1));
        acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0x4E));
        acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0xB1));
        return _mm_cvtsi128_si32(acc);
    }
    static void Update(int16_t* c, const int16_t* a, int sign) {
        // vpsignw: a, -a or 0 after the sign.
        const __m256i s = _mm256_set1_epi16(static_cast<int16_t>(sign));
        for (int i = 0; i < N; i += 16) {
            const __m256i cv = _mm256_loadu_si256((const __m256i*)(c + i));
            const __m256i av = _mm256_loadu_si256((const __m256i*)(a + i));
            _mm256_storeu_si256((__m256i*)(c + i), _mm256_add_epi16(cv, _mm256_sign_epi16(av, s)));
        }
    }
};

template <int N> void CompressAvx2(TNNFilterState& s, int32_t* data, size_t count) {
    RunNNFilter<TAvx2Kernel<N>>(s, data, count);
}

} // namespace

TNNKernelFn PickAvx2NNKernel(int order) {
    switch (order) {
    case 16: return CompressAvx2<16>;
    case 32: return CompressAvx2<32>;
    case 64: return CompressAvx2<64>;
    case 256: return CompressAvx2<256>;
    default: return nullptr;
    }
}

} // namespace bw
