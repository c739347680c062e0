#include "pipeline/apeframe.h"

#include "pipeline/aperangecoder.h"
#include "pipeline/checksums.h"

#include <cstring>

namespace bw {

namespace {

struct TStage {
    int order;
    int shift;
};

// NN stages as the compressor applies them (the decoder runs them in reverse).
std::vector<TStage> StagesOf(int level) {
    switch (level) {
    case 2000: return {{16, 11}};
    case 3000: return {{64, 11}};
    case 4000: return {{256, 13}, {32, 10}};
    default: return {};
    }
}

int Sign(int32_t v) { return (v > 0) - (v < 0); }

// The adaptive predictor of one channel over a frame: a first-order scaled filter on the
// value, then a four-tap prediction from its own history and a five-tap one from the cross
// value b, both with sign-adapted coefficients. r[i] gets the residual of x[i]. All state
// lives in locals, so it stays in registers.
template <bool kCross>
void PredictChannel(const int32_t* x, const int32_t* b, int32_t* r, size_t n) {
    int64_t lastX = 0, lastB = 0;
    int32_t a0 = 0, a1 = 0, a2 = 0, a3 = 0;          // dA
    int32_t b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0;  // dB
    int32_t ca0 = 360, ca1 = 317, ca2 = -109, ca3 = 98;
    int32_t cb0 = 0, cb1 = 0, cb2 = 0, cb3 = 0, cb4 = 0;
    int32_t prevA = 0;
    auto wrap = [](uint32_t v) { return static_cast<int32_t>(v); };
    for (size_t i = 0; i < n; ++i) {
        a3 = a2;
        a2 = a1;
        a1 = wrap(static_cast<uint32_t>(prevA) - static_cast<uint32_t>(a0));
        a0 = prevA;
        uint32_t pA = static_cast<uint32_t>(a0) * static_cast<uint32_t>(ca0) +
                      static_cast<uint32_t>(a1) * static_cast<uint32_t>(ca1) +
                      static_cast<uint32_t>(a2) * static_cast<uint32_t>(ca2) +
                      static_cast<uint32_t>(a3) * static_cast<uint32_t>(ca3);
        int32_t pB = 0;
        if constexpr (kCross) {
            const int32_t bv = b[i];
            const auto bp = static_cast<int32_t>(bv - ((lastB * 31) >> 5));
            lastB = bv;
            b4 = b3;
            b3 = b2;
            b2 = b1;
            b1 = wrap(static_cast<uint32_t>(bp) - static_cast<uint32_t>(b0));
            b0 = bp;
            pB = wrap(static_cast<uint32_t>(b0) * static_cast<uint32_t>(cb0) +
                      static_cast<uint32_t>(b1) * static_cast<uint32_t>(cb1) +
                      static_cast<uint32_t>(b2) * static_cast<uint32_t>(cb2) +
                      static_cast<uint32_t>(b3) * static_cast<uint32_t>(cb3) +
                      static_cast<uint32_t>(b4) * static_cast<uint32_t>(cb4));
        }
        const auto a = static_cast<int32_t>(x[i] - ((lastX * 31) >> 5));
        lastX = x[i];
        const int32_t sum = wrap(pA + static_cast<uint32_t>(pB >> 1));
        const int32_t res = wrap(static_cast<uint32_t>(a) - static_cast<uint32_t>(sum >> 10));

        const int s = Sign(res);
        ca0 += s * Sign(a0);
        ca1 += s * Sign(a1);
        ca2 += s * Sign(a2);
        ca3 += s * Sign(a3);
        if constexpr (kCross) {
            cb0 += s * Sign(b0);
            cb1 += s * Sign(b1);
            cb2 += s * Sign(b2);
            cb3 += s * Sign(b3);
            cb4 += s * Sign(b4);
        }
        prevA = a;
        r[i] = res;
    }
}

} // namespace

TAPEFrameEncoder::TAPEFrameEncoder(int level, int bits, int channels, TSimdPath path)
    : bits_(bits), channels_(channels) {
    for (const auto& st : StagesOf(level)) {
        filtersX_.emplace_back(st.order, st.shift, path);
        filtersY_.emplace_back(st.order, st.shift, path);
    }
}

namespace {

// One sample of the WAV data: 8-bit is unsigned with 128 for zero, 16 and 24-bit are signed
// little-endian.
template <int kBits> int32_t LoadSample(const uint8_t* p, size_t index) {
    if constexpr (kBits == 8) {
        return int32_t(p[index]) - 128;
    } else if constexpr (kBits == 16) {
        int16_t v;
        std::memcpy(&v, p + 2 * index, 2);
        return v;
    } else {
        const uint8_t* s = p + 3 * index;
        // Built in the top three bytes, so that shifting down carries the sign.
        const uint32_t u = static_cast<uint32_t>(s[0]) << 8 | static_cast<uint32_t>(s[1]) << 16 |
                           static_cast<uint32_t>(s[2]) << 24;
        return static_cast<int32_t>(u) >> 8;
    }
}

} // namespace

uint32_t TAPEFrameEncoder::LoadSamples(std::span<const std::byte> pcm, size_t blocks) {
    switch (bits_) {
    case 8: return LoadSamplesOf<8>(pcm, blocks);
    case 24: return LoadSamplesOf<24>(pcm, blocks);
    default: return LoadSamplesOf<16>(pcm, blocks);
    }
}

template <int kBits>
uint32_t TAPEFrameEncoder::LoadSamplesOf(std::span<const std::byte> pcm, size_t blocks) {
    // x_[0] stays 0: the cross value of the first block's Y; samples start at x_[1].
    x_.resize(blocks + 1);
    x_[0] = 0;
    rx_.resize(blocks);
    if (channels_ == 2) {
        y_.resize(blocks);
        ry_.resize(blocks);
    }
    const auto* p = reinterpret_cast<const uint8_t*>(pcm.data());
    // The codes come from OR-ing the values as they pass: a channel is silent when nothing
    // but zero bits were seen, the channels equal when Y never was anything but zero.
    if (channels_ == 1) {
        int32_t any = 0;
        for (size_t i = 0; i < blocks; ++i) {
            x_[i + 1] = LoadSample<kBits>(p, i);
            any |= x_[i + 1];
        }
        return any == 0 ? kLeftSilent : 0;
    }
    int32_t anyLeft = 0, anyRight = 0, anyY = 0;
    for (size_t i = 0; i < blocks; ++i) {
        const int32_t left = LoadSample<kBits>(p, 2 * i);
        const int32_t right = LoadSample<kBits>(p, 2 * i + 1);
        y_[i] = right - left;
        x_[i + 1] = left + y_[i] / 2; // C division: toward zero
        anyLeft |= left;
        anyRight |= right;
        anyY |= y_[i];
    }
    return (anyLeft == 0 ? kLeftSilent : 0) | (anyRight == 0 ? kRightSilent : 0) |
           (anyY == 0 ? kPseudoStereo : 0);
}

void TAPEFrameEncoder::Filter(std::vector<TAPENNFilter>& stages, int32_t* data, size_t blocks) {
    for (auto& f : stages) {
        f.Reset();
        f.Compress(data, blocks);
    }
}

size_t TAPEFrameEncoder::MaxFrameBytes(size_t blocks, int channels) {
    return 8 + blocks * static_cast<size_t>(channels) * TAPERangeEncoder::kMaxBytesPerValue +
           TAPERangeEncoder::kFinishBytes;
}

size_t TAPEFrameEncoder::Encode(std::span<const std::byte> pcm, size_t blocks, uint8_t* out) {
    const size_t bytes = blocks * static_cast<size_t>(channels_ * bits_ / 8);
    const uint32_t codes = LoadSamples(pcm, blocks);

    // What the codes leave to code: a silent mono frame, or a stereo frame with both channels
    // silent, codes nothing (decoders put out zeros); a stereo frame with equal channels codes
    // X alone as a mono channel, which decoders copy to both. A single silent channel of a
    // stereo frame is coded as usual: decoders act only on both bits together.
    enum class TCoded { Nothing, Mono, Stereo };
    TCoded coded = TCoded::Stereo;
    if (channels_ == 1)
        coded = codes & kLeftSilent ? TCoded::Nothing : TCoded::Mono;
    else if ((codes & (kLeftSilent | kRightSilent)) == (kLeftSilent | kRightSilent))
        coded = TCoded::Nothing;
    else if (codes & kPseudoStereo)
        coded = TCoded::Mono;

    if (coded == TCoded::Stereo) {
        // Y predicts across from the previous block's X (0 before the first), X from the
        // same block's Y.
        PredictChannel<true>(y_.data(), x_.data(), ry_.data(), blocks);
        PredictChannel<true>(x_.data() + 1, y_.data(), rx_.data(), blocks);
        Filter(filtersY_, ry_.data(), blocks);
        Filter(filtersX_, rx_.data(), blocks);
    } else if (coded == TCoded::Mono) {
        PredictChannel<false>(x_.data() + 1, nullptr, rx_.data(), blocks);
        Filter(filtersX_, rx_.data(), blocks);
    }

    // CRC word, big-endian, with bit 31 set when a special-codes word follows.
    auto put32 = [](uint8_t* o, uint32_t v) {
        o[0] = static_cast<uint8_t>(v >> 24);
        o[1] = static_cast<uint8_t>(v >> 16);
        o[2] = static_cast<uint8_t>(v >> 8);
        o[3] = static_cast<uint8_t>(v);
    };
    const uint32_t crc = Crc32Update(0, pcm.first(bytes)) >> 1;
    put32(out, codes ? crc | 0x80000000u : crc);
    size_t head = 4;
    if (codes) {
        put32(out + 4, codes);
        head = 8;
    }

    TAPERangeEncoder coder(out + head);
    uint32_t ksumX = 16384, ksumY = 16384;
    if (coded == TCoded::Stereo) {
        for (size_t i = 0; i < blocks; ++i) {
            coder.EncodeValue(ry_[i], ksumY);
            coder.EncodeValue(rx_[i], ksumX);
        }
    } else if (coded == TCoded::Mono) {
        for (size_t i = 0; i < blocks; ++i)
            coder.EncodeValue(rx_[i], ksumX);
    }
    coder.Finish();
    return head + coder.Written();
}

} // namespace bw
