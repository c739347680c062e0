#pragma once

// Sample-size and channel converters of the pipeline. Each pulls fixed chunks from its input
// into one buffer sized for the larger side and converts them there in place.

#include "pipeline/acs_classes.h"

#include <array>

namespace bw {

// The shared pull loop of the converters: chunk reading, end mark, position and size.
class TBufferedConverter : public TACSConverter {
public:
    static constexpr size_t kBufferBytes = 32768;

    void OpenInput() override;
    void CloseInput() override;
    size_t ReadPcm(std::span<std::byte> buffer) override;
    int64_t Size() const override;
    // round(own size / input size * input position).
    int64_t Position() const override;

protected:
    // Checks the input's format and answers the chunk size to pull.
    virtual size_t PrepareChunk(TACSInput& input) = 0;
    // Converts n input bytes at the start of the buffer in place; answers the bytes produced.
    virtual size_t Convert(std::byte* data, size_t n) = 0;
    // Own size from the input's (both known and >= 0).
    virtual int64_t ScaleSize(int64_t inputSize) const = 0;

private:
    alignas(16) std::array<std::byte, kBufferBytes> buffer_{};
    size_t readPos_ = 0;
    size_t fill_ = 0;
    size_t chunk_ = 0;
    bool endMark_ = false;
};

// 8 to 16 bits and 16 to 8 bits.
class TSampleConverter : public TBufferedConverter {
public:
    int BitsPerSample() override;

protected:
    size_t PrepareChunk(TACSInput& input) override;
    size_t Convert(std::byte* data, size_t n) override;
    int64_t ScaleSize(int64_t inputSize) const override;

private:
    bool from16_ = false;
};

enum class TMSConverterMode { msmMonoToBoth, msmMonoToLeft, msmMonoToRight };

// Mono to stereo (the sample on both channels) and stereo to mono (the average), 16-bit.
class TMSConverter : public TBufferedConverter {
public:
    TMSConverterMode Mode() const { return mode_; }
    void SetMode(TMSConverterMode mode) { mode_ = mode; }
    int BitsPerSample() override;
    int ChannelCount() override;

protected:
    size_t PrepareChunk(TACSInput& input) override;
    size_t Convert(std::byte* data, size_t n) override;
    int64_t ScaleSize(int64_t inputSize) const override;

private:
    TMSConverterMode mode_ = TMSConverterMode::msmMonoToBoth;
    bool fromStereo_ = false;
};

} // namespace bw
