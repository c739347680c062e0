#pragma once

// Helpers of the pipeline tests: WAV files written byte by byte, test signals, running an
// output to its end, and strict decoding with FFmpeg.

#include "pipeline/acs_classes.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bwtest {

// A plain 44-byte-header PCM WAV holding pcm.
std::vector<std::byte> WavBytes(int bits, int channels, int rate, const std::vector<std::byte>& pcm);
void WriteWav(const std::string& path, int bits, int channels, int rate,
              const std::vector<std::byte>& pcm);

// Interleaved little-endian 16-bit samples as bytes.
std::vector<std::byte> S16Bytes(const std::vector<int16_t>& samples);
std::vector<int16_t> S16Samples(const std::vector<std::byte>& bytes);

enum class TSignal { Silence, Noise, Sine, SameChannels };
// frames sample frames of a signal at bits (8, 16 or 24) and channels (1 or 2), as PCM
// bytes. Noise is full-scale and repeatable (seeded); at 24 bits every signal has content in
// its low byte.
std::vector<std::byte> MakeSignal(TSignal signal, int bits, int channels, size_t frames,
                                  uint32_t seed = 1);

// Starts the output and waits until it is done or idle after a failure. Fails the test when
// nothing ends within a generous bound (a hang), instead of hanging the suite.
void RunOutput(bw::TACSOutput& output);
// Waits until the output is idle (the same bound).
void WaitIdle(bw::TACSOutput& output);

// Expects f to raise the pipeline's error with exactly this text.
template <typename F> void ExpectAcsError(F&& f, const std::string& text) {
    try {
        f();
        ADD_FAILURE() << "no error; expected \"" << text << "\"";
    } catch (const bw::EACSException& e) {
        EXPECT_EQ(std::string(e.what()), text);
    }
}

// Limits the size of files this process writes, so writes past it fail as on a full disk;
// lifted again at the end of the scope.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(uint64_t bytes);
    ~TFileSizeLimit();
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    uint64_t savedCur_ = 0;
    uint64_t savedMax_ = 0;
    void (*savedHandler_)(int) = nullptr;
};

struct TDecoded {
    int ExitCode = -1;
    std::vector<std::byte> Pcm;
    std::string Err;
};
// Decodes with FFmpeg checking every frame's CRC and stopping at the first error.
TDecoded DecodeStrict(const std::string& path, const std::string& format);

} // namespace bwtest
