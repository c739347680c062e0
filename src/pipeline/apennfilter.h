#pragma once

// The sign-sign LMS ("NN") filter stage of the Monkey's Audio compressor. Each sample costs a
// dot product over the last N samples and an update of N 16-bit coefficients, so the stage
// has vector code paths; every path gives the same bytes as the plain one.

#include "pipeline/apennfilter_kernel.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bw {

enum class TSimdPath { Scalar, Sse2, Avx2 };

// The paths this processor can run, plain first.
std::vector<TSimdPath> AvailableSimdPaths();
TSimdPath BestSimdPath();
std::string SimdPathName(TSimdPath path);

class TAPENNFilter {
public:
    // order: 16, 32, 64 or 256; shift: the fixed-point bits of the sum.
    TAPENNFilter(int order, int shift, TSimdPath path);
    // Fresh state, as at the start of every frame.
    void Reset();
    // Replaces each input by the stage's output, in place.
    void Compress(int32_t* data, size_t count) { kernel_(state_, data, count); }

private:
    int order_;
    int shift_;
    TNNKernelFn kernel_;
    std::vector<int16_t> coeffs_;
    std::vector<int16_t> history_;
    std::vector<int16_t> adapt_;
    TNNFilterState state_{};
};

} // namespace bw
