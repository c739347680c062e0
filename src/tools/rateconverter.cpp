#include "tools/rateconverter.h"

#include <algorithm>
#include <cmath>
#include <soxr.h>

namespace bw {

namespace {

// Output room for one call into the filter; it hands out what fits and keeps the rest.
constexpr size_t kOutFrames = 1 << 16;

} // namespace

void TRateConverter::TSoxrDelete::operator()(soxr* s) const {
    soxr_delete(s);
}

TRateConverter::TRateConverter() = default;
TRateConverter::~TRateConverter() = default;

bool TRateConverter::Fail(const char* what) {
    error_ = std::string("resampler: ") + (what ? what : "unknown error");
    return false;
}

bool TRateConverter::Init(uint32_t inRate, uint32_t outRate, unsigned channels) {
    inRate_ = inRate;
    outRate_ = outRate;
    channels_ = channels;
    soxr_.reset();
    out_.assign(kOutFrames * channels, 0.0f);
    if (inRate == outRate)
        return true;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    // One thread: measured on stereo files, a thread per channel gained nothing here, and
    // the converter shares the machine with the decoder and the encoders.
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    soxr_.reset(soxr_create(inRate, outRate, channels, &error, &io, &quality, &runtime));
    if (error || !soxr_)
        return Fail(error);
    return true;
}

bool TRateConverter::Drain(const int16_t* in, size_t frames, const TFloatSink& sink) {
    // With in null this flushes: the filter empties itself over as many calls as it needs.
    size_t used = 0;
    for (;;) {
        size_t idone = 0, odone = 0;
        const int16_t* from = in ? in + used * channels_ : nullptr;
        if (const soxr_error_t e = soxr_process(soxr_.get(), from, frames - used, &idone,
                                                out_.data(), kOutFrames, &odone))
            return Fail(e);
        used += idone;
        if (odone > 0 && !sink(std::span<const float>(out_.data(), odone * channels_)))
            return false;
        const bool moreReady = odone == kOutFrames;
        if (in ? (used == frames && !moreReady) : odone == 0)
            return true;
    }
}

bool TRateConverter::Feed(std::span<const int16_t> samples, const TFloatSink& sink) {
    const size_t frames = samples.size() / channels_;
    if (soxr_)
        return Drain(samples.data(), frames, sink);
    // Equal rates: only the scaling to floats.
    for (size_t done = 0; done < samples.size();) {
        const size_t n = std::min(samples.size() - done, out_.size());
        for (size_t i = 0; i < n; ++i)
            out_[i] = static_cast<float>(samples[done + i]) * (1.0f / 32768.0f);
        if (!sink(std::span<const float>(out_.data(), n)))
            return false;
        done += n;
    }
    return true;
}

bool TRateConverter::Flush(const TFloatSink& sink) {
    return soxr_ ? Drain(nullptr, 0, sink) : true;
}

bool TRateConverter::Restart() {
    if (soxr_) {
        if (const soxr_error_t e = soxr_clear(soxr_.get()))
            return Fail(e);
    }
    return true;
}

void TQuantizer::Convert(std::span<const float> in, std::span<std::byte> out) {
    if (bits_ == 16) {
        for (size_t i = 0; i < in.size(); ++i) {
            const float v = std::clamp(in[i] * scale_, -32768.0f, 32767.0f);
            // Adding 0.5 and truncating a positive number rounds it; the offset keeps the
            // value positive, and this form the compiler turns into vector code.
            const int q = static_cast<int>(v + 32768.5f) - 32768;
            out[2 * i] = static_cast<std::byte>(q & 0xFF);
            out[2 * i + 1] = static_cast<std::byte>((q >> 8) & 0xFF);
        }
        return;
    }
    uint32_t x = random_;
    for (size_t i = 0; i < in.size(); ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        // Two independent uniform values in [0, 1) summed and centred: triangular over
        // (-1, 1) least significant bits.
        const float dither = static_cast<float>(x & 0xFFFF) * (1.0f / 65536.0f) +
                             static_cast<float>(x >> 16) * (1.0f / 65536.0f) - 1.0f;
        const float v = std::clamp(in[i] * scale_ + dither, -128.0f, 127.0f);
        out[i] = static_cast<std::byte>(static_cast<int>(v + 128.5f));
    }
    random_ = x;
}

uint64_t ConvertedFrames(uint64_t frames, uint32_t inRate, uint32_t outRate) {
    // The filter's count: the exact product, rounded to the nearest frame.
    return (frames * outRate + inRate / 2) / inRate;
}

float PeakOf(std::span<const float> samples) {
    float peak = 0.0f;
    for (const float s : samples)
        peak = std::max(peak, std::fabs(s));
    return peak;
}

} // namespace bw
