#include "pipeline/apennfilter.h"

#include <algorithm>
#include <emmintrin.h>
#include <stdexcept>

namespace bw {

namespace {

// Plain code: the reference every vector path must match.
template <int N> struct TScalarKernel {
    static int32_t Dot(const int16_t* c, const int16_t* x) {
        uint32_t sum = 0;
        for (int i = 0; i < N; ++i)
            sum += static_cast<uint32_t>(int32_t(c[i]) * int32_t(x[i]));
        return static_cast<int32_t>(sum);
    }
    static void Update(int16_t* c, const int16_t* a, int sign) {
        for (int i = 0; i < N; ++i)
            c[i] = static_cast<int16_t>(c[i] + sign * a[i]);
    }
};

// SSE2 (every x86-64 has it): eight taps per instruction; pmaddwd sums pairs of 16-bit
// products into 32 bits, wrapping like the plain sum.
template <int N> struct TSse2Kernel {
    static int32_t Dot(const int16_t* c, const int16_t* x) {
        __m128i acc = _mm_setzero_si128();
        for (int i = 0; i < N; i += 8)
            acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_loadu_si128((const __m128i*)(c + i)),
                                                    _mm_loadu_si128((const __m128i*)(x + i))));
        acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0x4E));
        acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, 0xB1));
        return _mm_cvtsi128_si32(acc);
    }
    static void Update(int16_t* c, const int16_t* a, int sign) {
        // (a ^ m) - m negates where m is all ones; the mask z drops it all when sign is 0.
        const __m128i m = _mm_set1_epi16(static_cast<int16_t>(sign < 0 ? -1 : 0));
        const __m128i z = _mm_set1_epi16(static_cast<int16_t>(sign != 0 ? -1 : 0));
        for (int i = 0; i < N; i += 8) {
            const __m128i cv = _mm_loadu_si128((const __m128i*)(c + i));
            const __m128i av = _mm_loadu_si128((const __m128i*)(a + i));
            const __m128i d = _mm_and_si128(_mm_sub_epi16(_mm_xor_si128(av, m), m), z);
            _mm_storeu_si128((__m128i*)(c + i), _mm_add_epi16(cv, d));
        }
    }
};

template <template <int> class TKernel> TNNKernelFn PickKernel(int order) {
    switch (order) {
    case 16: return RunNNFilter<TKernel<16>>;
    case 32: return RunNNFilter<TKernel<32>>;
    case 64: return RunNNFilter<TKernel<64>>;
    case 256: return RunNNFilter<TKernel<256>>;
    default: return nullptr;
    }
}

} // namespace

std::vector<TSimdPath> AvailableSimdPaths() {
    std::vector<TSimdPath> paths{TSimdPath::Scalar, TSimdPath::Sse2};
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2"))
        paths.push_back(TSimdPath::Avx2);
    return paths;
}

TSimdPath BestSimdPath() {
    static const TSimdPath best = AvailableSimdPaths().back();
    return best;
}

std::string SimdPathName(TSimdPath path) {
    switch (path) {
    case TSimdPath::Scalar: return "scalar";
    case TSimdPath::Sse2: return "sse2";
    case TSimdPath::Avx2: return "avx2";
    }
    return "unknown";
}

TAPENNFilter::TAPENNFilter(int order, int shift, TSimdPath path)
    : order_(order), shift_(shift), coeffs_(static_cast<size_t>(order)),
      history_(static_cast<size_t>(order) + kNNWindow),
      adapt_(static_cast<size_t>(order) + kNNWindow) {
    kernel_ = path == TSimdPath::Avx2   ? PickAvx2NNKernel(order)
              : path == TSimdPath::Sse2 ? PickKernel<TSse2Kernel>(order)
                                        : PickKernel<TScalarKernel>(order);
    if (!kernel_)
        throw std::invalid_argument("no NN filter of order " + std::to_string(order));
    Reset();
}

void TAPENNFilter::Reset() {
    std::fill(coeffs_.begin(), coeffs_.end(), 0);
    std::fill(history_.begin(), history_.end(), 0);
    std::fill(adapt_.begin(), adapt_.end(), 0);
    state_ = {order_, shift_, coeffs_.data(), history_.data(), adapt_.data(),
              static_cast<size_t>(order_), 0};
}

} // namespace bw
