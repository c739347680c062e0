#pragma once

// One Monkey's Audio frame: channel decorrelation, the adaptive predictor, the NN filter
// stages of the level and the range-coded residuals. All state starts afresh per frame.

#include "pipeline/apennfilter.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace bw {

class TAPEFrameEncoder {
public:
    // level 1000..4000; bits 8, 16 or 24; channels 1 or 2.
    TAPEFrameEncoder(int level, int bits, int channels, TSimdPath path);

    // Special codes of a frame, set from its samples (the first WAV channel is "left").
    static constexpr uint32_t kLeftSilent = 1;   // left, or a mono file's only channel, all zero
    static constexpr uint32_t kRightSilent = 2;  // right all zero
    static constexpr uint32_t kPseudoStereo = 4; // every block's two samples equal

    // The most bytes a frame of `blocks` can take.
    static size_t MaxFrameBytes(size_t blocks, int channels);
    // Writes the frame of `blocks` interleaved PCM blocks (as they stand in the WAV data) to
    // out, which has room for MaxFrameBytes: the CRC word, the special codes when there are
    // any, then the range-coded residuals of what the codes leave to code. Answers the bytes
    // written.
    size_t Encode(std::span<const std::byte> pcm, size_t blocks, uint8_t* out);

private:
    // Fills x_ and y_ and answers the frame's special codes.
    uint32_t LoadSamples(std::span<const std::byte> pcm, size_t blocks);
    template <int kBits> uint32_t LoadSamplesOf(std::span<const std::byte> pcm, size_t blocks);
    void Filter(std::vector<TAPENNFilter>& stages, int32_t* data, size_t blocks);

    int bits_;
    int channels_;
    std::vector<int32_t> x_, y_;   // decorrelated channels (mono: x only), x_ from index 1
    std::vector<int32_t> rx_, ry_; // their residuals
    // Per channel, in the order the compressor applies them.
    std::vector<TAPENNFilter> filtersX_, filtersY_;
};

} // namespace bw
