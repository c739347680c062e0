#pragma once

// The sample-rate converter of the resampler program and the word-length reduction after it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

struct soxr;

namespace bw {

// Receives each block of converted frames (interleaved floats, full scale 1.0); false stops
// the conversion.
using TFloatSink = std::function<bool(std::span<const float>)>;

// Converts interleaved 16-bit frames from one rate to another with libsoxr's very-high-quality
// filter. Equal rates pass the samples through unfiltered. Each channel has a filter of its
// own, and the two channels of a stereo file are converted at the same time on two threads:
// the filter is the slow part of the whole WAV output, and the channels never meet in it.
class TRateConverter {
public:
    TRateConverter();
    ~TRateConverter();
    TRateConverter(const TRateConverter&) = delete;
    TRateConverter& operator=(const TRateConverter&) = delete;

    bool Init(uint32_t inRate, uint32_t outRate, unsigned channels);
    // Converts whole frames, handing everything ready to sink.
    bool Feed(std::span<const int16_t> samples, const TFloatSink& sink);
    // Ends the input and hands the filter's tail to sink.
    bool Flush(const TFloatSink& sink);
    // Forgets all input, for a second pass over the same file.
    bool Restart();
    const std::string& LastError() const { return error_; }

private:
    struct TSoxrDelete {
        void operator()(soxr* s) const;
    };
    // One channel's filter and what it has made of the current block.
    struct TChannel {
        std::unique_ptr<soxr, TSoxrDelete> Filter;
        std::vector<int16_t> In;
        std::vector<float> Out;
        const char* Error = nullptr;
    };

    bool Fail(const char* what);
    // Runs every channel's filter over frames of interleaved input (null: the end of the
    // input), then hands the interleaved result to sink.
    bool Drain(const int16_t* in, size_t frames, const TFloatSink& sink);
    static void RunFilter(TChannel& channel, bool flush);

    std::vector<TChannel> filters_; // empty when the rates are equal
    uint32_t inRate_ = 0;
    uint32_t outRate_ = 0;
    unsigned channels_ = 0;
    std::vector<float> out_;
    std::string error_;
};

// Rounds float samples (full scale 1.0, times a scale) to 16-bit signed or 8-bit unsigned
// output bytes. 16 bits are rounded to the nearest value; 8 bits get triangular (TPDF)
// dither first, so quiet passages keep their detail as noise instead of turning into steps.
// Values beyond the range are clamped.
class TQuantizer {
public:
    TQuantizer(unsigned bits, float scale) : bits_(bits), scale_(scale) {}
    size_t BytesFor(size_t samples) const { return samples * (bits_ / 8); }
    // Writes BytesFor(in.size()) bytes to out.
    void Convert(std::span<const float> in, std::span<std::byte> out);

private:
    unsigned bits_;
    float scale_;
    uint32_t random_ = 0x9E3779B9u; // xorshift state for the dither
};

// The number of frames a whole input of frames at inRate turns into at outRate.
uint64_t ConvertedFrames(uint64_t frames, uint32_t inRate, uint32_t outRate);

// The largest magnitude among the samples.
float PeakOf(std::span<const float> samples);

} // namespace bw
