#include "tools/rateconverter.h"

#include <algorithm>
#include <cmath>
#include <thread>
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
    filters_.clear();
    out_.assign(kOutFrames * channels, 0.0f);
    if (inRate == outRate)
        return true;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_FLOAT32_I);
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_VHQ, 0);
    // libsoxr's own threads gained nothing here; our channel threads do the sharing.
    const soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    filters_.resize(channels);
    for (TChannel& c : filters_) {
        soxr_error_t error = nullptr;
        c.Filter.reset(soxr_create(inRate, outRate, 1, &error, &io, &quality, &runtime));
        if (error || !c.Filter)
            return Fail(error);
    }
    return true;
}

void TRateConverter::RunFilter(TChannel& channel, bool flush) {
    // Takes the whole block, handing out what is ready in steps of the output room; with
    // flush the filter empties itself over as many calls as it needs.
    channel.Out.clear();
    channel.Error = nullptr;
    size_t used = 0;
    const size_t frames = flush ? 0 : channel.In.size();
    std::vector<float> room(kOutFrames);
    for (;;) {
        size_t idone = 0, odone = 0;
        const int16_t* from = flush ? nullptr : channel.In.data() + used;
        if (const soxr_error_t e = soxr_process(channel.Filter.get(), from, frames - used, &idone,
                                                room.data(), room.size(), &odone)) {
            channel.Error = e;
            return;
        }
        used += idone;
        channel.Out.insert(channel.Out.end(), room.begin(), room.begin() + static_cast<ptrdiff_t>(odone));
        const bool moreReady = odone == room.size();
        if (flush ? odone == 0 : (used == frames && !moreReady))
            return;
    }
}

bool TRateConverter::Drain(const int16_t* in, size_t frames, const TFloatSink& sink) {
    for (unsigned c = 0; c < channels_; ++c) {
        std::vector<int16_t>& plane = filters_[c].In;
        plane.resize(in ? frames : 0);
        for (size_t i = 0; i < plane.size(); ++i)
            plane[i] = in[i * channels_ + c];
    }
    {
        // The other channels on threads of their own, the first one here.
        std::vector<std::jthread> helpers;
        for (unsigned c = 1; c < channels_; ++c)
            helpers.emplace_back([this, c, in] { RunFilter(filters_[c], in == nullptr); });
        RunFilter(filters_[0], in == nullptr);
    }
    const size_t ready = filters_[0].Out.size();
    for (const TChannel& c : filters_) {
        if (c.Error)
            return Fail(c.Error);
        if (c.Out.size() != ready)
            return Fail("the channels came out of step");
    }
    // Interleaved again, in steps of the output buffer.
    const size_t step = out_.size() / channels_;
    for (size_t done = 0; done < ready; done += step) {
        const size_t n = std::min(step, ready - done);
        for (size_t i = 0; i < n; ++i)
            for (unsigned c = 0; c < channels_; ++c)
                out_[i * channels_ + c] = filters_[c].Out[done + i];
        if (!sink(std::span<const float>(out_.data(), n * channels_)))
            return false;
    }
    return true;
}

bool TRateConverter::Feed(std::span<const int16_t> samples, const TFloatSink& sink) {
    const size_t frames = samples.size() / channels_;
    if (!filters_.empty())
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
    return filters_.empty() ? true : Drain(nullptr, 0, sink);
}

bool TRateConverter::Restart() {
    for (TChannel& c : filters_) {
        if (const soxr_error_t e = soxr_clear(c.Filter.get()))
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
