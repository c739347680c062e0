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
#pragma GCC unroll 8
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
#pragma GCC unroll 16
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

// Moves every lane of the R-register window down by one and puts v in the top lane.
template <int R> inline void ShiftIn(__m256i (&w)[R], int16_t v) {
    const __m256i top = _mm256_zextsi128_si256(_mm_cvtsi32_si128(static_cast<uint16_t>(v)));
    for (int r = 0; r < R; ++r) {
        const __m256i next = r + 1 < R ? w[r + 1] : top;
        w[r] = _mm256_alignr_epi8(_mm256_permute2x128_si256(w[r], next, 0x21), w[r], 2);
    }
}

// Short filters (16 to 64 taps) keep coefficients, history and adapt values in registers
// for the whole call: no value just stored is loaded back as part of a vector, which would
// stall every sample. The same arithmetic as RunNNFilter, lane N-1 holding the newest value.
template <int R> void CompressAvx2Registers(TNNFilterState& s, int32_t* data, size_t count) {
    constexpr int N = 16 * R;
    __m256i c[R], x[R], a[R];
    const size_t base = s.pos - N;
    for (int r = 0; r < R; ++r) {
        c[r] = _mm256_loadu_si256((const __m256i*)(s.coeffs + 16 * r));
        x[r] = _mm256_loadu_si256((const __m256i*)(s.history + base + 16 * r));
        a[r] = _mm256_loadu_si256((const __m256i*)(s.adapt + base + 16 * r));
    }
    // Ages 1, 2 and 8 are lanes 14, 13 and 7 of the top register.
    const __m256i halve = _mm256_setr_epi16(0, 0, 0, 0, 0, 0, 0, -1, 0, 0, 0, 0, 0, -1, -1, 0);
    const int64_t round = int64_t(1) << (s.shift - 1);
    uint32_t avg = s.avg;
    for (size_t i = 0; i < count; ++i) {
        const int32_t v = data[i];
        __m256i acc = _mm256_madd_epi16(c[0], x[0]);
        for (int r = 1; r < R; ++r)
            acc = _mm256_add_epi32(acc, _mm256_madd_epi16(c[r], x[r]));
        __m128i sum = _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0x4E));
        sum = _mm_add_epi32(sum, _mm_shuffle_epi32(sum, 0xB1));
        const auto prediction = static_cast<int32_t>(
            (static_cast<int64_t>(_mm_cvtsi128_si32(sum)) + round) >> s.shift);
        const auto out = static_cast<int32_t>(static_cast<uint32_t>(v) -
                                              static_cast<uint32_t>(prediction));
        const __m256i sign = _mm256_set1_epi16(static_cast<int16_t>((out < 0) - (out > 0)));
        for (int r = 0; r < R; ++r)
            c[r] = _mm256_add_epi16(c[r], _mm256_sign_epi16(a[r], sign));

        const uint32_t m = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
        const int mag = 8 << ((m > uint64_t(avg) * 3) + (m > avg + avg / 3));
        avg += static_cast<uint32_t>(static_cast<int32_t>(m - avg) / 16);
        ShiftIn(x, NNClamp16(v));
        ShiftIn(a, static_cast<int16_t>(((v < 0) - (v > 0)) * mag));
        a[R - 1] = _mm256_blendv_epi8(a[R - 1], _mm256_srai_epi16(a[R - 1], 1), halve);
        data[i] = out;
    }
    // Back to memory, the window at the start.
    for (int r = 0; r < R; ++r) {
        _mm256_storeu_si256((__m256i*)(s.coeffs + 16 * r), c[r]);
        _mm256_storeu_si256((__m256i*)(s.history + 16 * r), x[r]);
        _mm256_storeu_si256((__m256i*)(s.adapt + 16 * r), a[r]);
    }
    s.pos = N;
    s.avg = avg;
}

} // namespace

TNNKernelFn PickAvx2NNKernel(int order) {
    switch (order) {
    case 16: return CompressAvx2Registers<1>;
    case 32: return CompressAvx2Registers<2>;
    case 64: return CompressAvx2Registers<4>;
    case 256: return CompressAvx2<256>;
    default: return nullptr;
    }
}

} // namespace bw
