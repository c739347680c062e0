#pragma once

#include "encoders/commandline.h"

#include <array>
#include <string>

namespace bw {

// Every control of the WAV page, with the page's defaults.
struct TWavOptions {
    int WAVSamplerate = 1; // index into kWavSamplerates: 44100
    int WAVChannels = 0;   // "Stereo", "Mono"
    int WAVbps = 0;        // "16 Bits", "8 Bits"
    bool cbNormalize = false;
};

inline constexpr std::array<const char*, 9> kWavSamplerates{
    "48000", "44100", "32000", "24000", "22050", "16000", "11025", "8000", "6000"};
inline constexpr std::array<const char*, 2> kWavChannelNames{"Stereo", "Mono"};
inline constexpr std::array<const char*, 2> kWavBitsNames{"16 Bits", "8 Bits"};

// The values the page stands for: the selected rate, 2 or 1 channels, 16 or 8 bits.
int WavSampleRate(const TWavOptions& o);
int WavChannelCount(const TWavOptions& o);
int WavBits(const TWavOptions& o);

// The name of our resampler program, looked up like the encoders.
inline constexpr const char* kResamplerProgram = "brindlewave-resample";

// The resampler's command line: program "--rate R --bits B[ --normalize]" and the two files
// in double quotes.
TCommandLine BuildResampleCommand(const std::string& program, int rate, int bits, bool normalize,
                                  const std::string& input, const std::string& output);

} // namespace bw
