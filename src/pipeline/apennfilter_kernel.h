#pragma once

// The sample loop of the NN filter, shared by the code paths. Each path's file includes it
// under its own target settings, so the whole loop is compiled for that path; everything
// here has internal linkage and uses no library function, so no copy built for a wider
// instruction set can stand in for another path's.

#include <cstddef>
#include <cstdint>

namespace bw {

struct TNNFilterState {
    int order;
    int shift;
    int16_t* coeffs;
    int16_t* history; // the last `order` inputs end just before pos
    int16_t* adapt;
    size_t pos;
    uint32_t avg;
};

// Samples between two moves of the history window.
inline constexpr size_t kNNWindow = 512;

using TNNKernelFn = void (*)(TNNFilterState&, int32_t*, size_t);

// The AVX2 kernels live in their own file; null when the order has none.
TNNKernelFn PickAvx2NNKernel(int order);

namespace {

inline int16_t NNClamp16(int32_t v) {
    return static_cast<int16_t>(v < -32768 ? -32768 : (v > 32767 ? 32767 : v));
}

inline void NNMove(int16_t* to, const int16_t* from, int n) {
    for (int i = 0; i < n; ++i)
        to[i] = from[i];
}

// TKernel supplies Dot(coeffs, history) -> wrapping 32-bit sum of N products, and
// Update(coeffs, adapt, sign): coeffs += sign * adapt (sign -1, 0 or 1; 16-bit wrap).
template <typename TKernel>
inline void RunNNFilter(TNNFilterState& s, int32_t* data, size_t count) {
    const int64_t round = int64_t(1) << (s.shift - 1);
    for (size_t i = 0; i < count; ++i) {
        const int32_t v = data[i];
        const size_t base = s.pos - static_cast<size_t>(s.order);
        const int32_t sum = TKernel::Dot(s.coeffs, s.history + base);
        const auto prediction = static_cast<int32_t>((static_cast<int64_t>(sum) + round) >> s.shift);
        const auto out = static_cast<int32_t>(static_cast<uint32_t>(v) -
                                              static_cast<uint32_t>(prediction));
        // Without branches: the signs of audio residuals are a coin toss.
        TKernel::Update(s.coeffs, s.adapt + base, (out < 0) - (out > 0));

        // The adapt value follows the input's size against its running average.
        const uint32_t m = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
        const int mag = 8 << ((m > uint64_t(s.avg) * 3) + (m > s.avg + s.avg / 3));
        const auto a = static_cast<int16_t>(((v < 0) - (v > 0)) * mag);
        s.avg += static_cast<uint32_t>(static_cast<int32_t>(m - s.avg) / 16);

        s.history[s.pos] = NNClamp16(v);
        s.adapt[s.pos] = a;
        s.adapt[s.pos - 1] = static_cast<int16_t>(s.adapt[s.pos - 1] >> 1);
        s.adapt[s.pos - 2] = static_cast<int16_t>(s.adapt[s.pos - 2] >> 1);
        s.adapt[s.pos - 8] = static_cast<int16_t>(s.adapt[s.pos - 8] >> 1);
        if (++s.pos == static_cast<size_t>(s.order) + kNNWindow) {
            NNMove(s.history, s.history + kNNWindow, s.order);
            NNMove(s.adapt, s.adapt + kNNWindow, s.order);
            s.pos = static_cast<size_t>(s.order);
        }
        data[i] = out;
    }
}

} // namespace
} // namespace bw
