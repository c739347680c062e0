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

// The adaptive predictor of one channel: a first-order scaled filter on the value, then
// four-tap (own history) and five-tap (cross channel) sign-adapted predictions.
class TPredictor {
public:
    int32_t Residual(int32_t x, int32_t b) {
        dA_[3] = dA_[2];
        dA_[2] = dA_[1];
        dA_[1] = static_cast<int32_t>(static_cast<uint32_t>(prevA_) - static_cast<uint32_t>(dA_[0]));
        dA_[0] = prevA_;

        const auto bp = static_cast<int32_t>(b - ((lastB_ * 31) >> 5));
        lastB_ = b;
        dB_[4] = dB_[3];
        dB_[3] = dB_[2];
        dB_[2] = dB_[1];
        dB_[1] = static_cast<int32_t>(static_cast<uint32_t>(bp) - static_cast<uint32_t>(dB_[0]));
        dB_[0] = bp;

        uint32_t pA = 0, pB = 0;
        for (int i = 0; i < 4; ++i)
            pA += static_cast<uint32_t>(dA_[i]) * static_cast<uint32_t>(cA_[i]);
        for (int i = 0; i < 5; ++i)
            pB += static_cast<uint32_t>(dB_[i]) * static_cast<uint32_t>(cB_[i]);

        const auto a = static_cast<int32_t>(x - ((lastX_ * 31) >> 5));
        lastX_ = x;
        const auto sum = static_cast<int32_t>(pA + static_cast<uint32_t>(static_cast<int32_t>(pB) >> 1));
        const auto r = static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(sum >> 10));

        const int s = Sign(r);
        if (s != 0) {
            for (int i = 0; i < 4; ++i)
                cA_[i] += s * Sign(dA_[i]);
            for (int i = 0; i < 5; ++i)
                cB_[i] += s * Sign(dB_[i]);
        }
        prevA_ = a;
        return r;
    }

private:
    int64_t lastX_ = 0;
    int64_t lastB_ = 0;
    int32_t dA_[4] = {};
    int32_t dB_[5] = {};
    int32_t cA_[4] = {360, 317, -109, 98};
    int32_t cB_[5] = {};
    int32_t prevA_ = 0;
};

} // namespace

TAPEFrameEncoder::TAPEFrameEncoder(int level, int bits, int channels, TSimdPath path)
    : bits_(bits), channels_(channels) {
    for (const auto& st : StagesOf(level)) {
        filtersX_.emplace_back(st.order, st.shift, path);
        filtersY_.emplace_back(st.order, st.shift, path);
    }
}

void TAPEFrameEncoder::LoadSamples(std::span<const std::byte> pcm, size_t blocks) {
    x_.resize(blocks);
    rx_.resize(blocks);
    if (channels_ == 2) {
        y_.resize(blocks);
        ry_.resize(blocks);
    }
    const auto* p = reinterpret_cast<const uint8_t*>(pcm.data());
    auto sample = [&](size_t index) -> int32_t {
        if (bits_ == 8)
            return int32_t(p[index]) - 128;
        int16_t v;
        std::memcpy(&v, p + 2 * index, 2);
        return v;
    };
    if (channels_ == 1) {
        for (size_t i = 0; i < blocks; ++i)
            x_[i] = sample(i);
        return;
    }
    for (size_t i = 0; i < blocks; ++i) {
        const int32_t left = sample(2 * i);
        const int32_t right = sample(2 * i + 1);
        y_[i] = right - left;
        x_[i] = left + y_[i] / 2; // C division: toward zero
    }
}

void TAPEFrameEncoder::Filter(std::vector<TAPENNFilter>& stages, int32_t* data, size_t blocks) {
    for (auto& f : stages) {
        f.Reset();
        f.Compress(data, blocks);
    }
}

void TAPEFrameEncoder::Encode(std::span<const std::byte> pcm, size_t blocks,
                              std::vector<uint8_t>& out) {
    const size_t bytes = blocks * static_cast<size_t>(channels_ * bits_ / 8);
    LoadSamples(pcm, blocks);

    if (channels_ == 2) {
        // Y predicts across from the previous block's X, X from the same block's Y.
        TPredictor py, px;
        for (size_t i = 0; i < blocks; ++i)
            ry_[i] = py.Residual(y_[i], i ? x_[i - 1] : 0);
        for (size_t i = 0; i < blocks; ++i)
            rx_[i] = px.Residual(x_[i], y_[i]);
        Filter(filtersY_, ry_.data(), blocks);
        Filter(filtersX_, rx_.data(), blocks);
    } else {
        TPredictor px;
        for (size_t i = 0; i < blocks; ++i)
            rx_[i] = px.Residual(x_[i], 0);
        Filter(filtersX_, rx_.data(), blocks);
    }

    // CRC word, big-endian; bit 31 stays clear: no special-codes word follows.
    const uint32_t crc = Crc32Update(0, pcm.first(bytes)) >> 1;
    out.push_back(static_cast<uint8_t>(crc >> 24));
    out.push_back(static_cast<uint8_t>(crc >> 16));
    out.push_back(static_cast<uint8_t>(crc >> 8));
    out.push_back(static_cast<uint8_t>(crc));

    TAPERangeEncoder coder(out);
    uint32_t ksumX = 16384, ksumY = 16384;
    if (channels_ == 2) {
        for (size_t i = 0; i < blocks; ++i) {
            coder.EncodeValue(ry_[i], ksumY);
            coder.EncodeValue(rx_[i], ksumX);
        }
    } else {
        for (size_t i = 0; i < blocks; ++i)
            coder.EncodeValue(rx_[i], ksumX);
    }
    coder.Finish();
}

} // namespace bw
