#pragma once

#include "encoders/commandline.h"

#include <array>
#include <string>

namespace bw {

// Every control of the MP3 page, with the page's defaults. List controls hold the selected
// index (-1: no selection), sliders their position.
struct TMp3Options {
    int Samplerate = 1;  // "48000", "44100", "32000"
    int Channels = 0;    // "Stereo", "Joint Stereo", "Forced Stereo", "Dual Channels", "Mono"
    bool Original = false;
    bool Copyright = false;
    bool CRC = false;
    bool CBR = true;     // CBR and VBR are one pair of radio buttons
    int CBRBitrate = 8;  // 128 kbps
    bool HQ = false;
    bool VBR = false;
    int VBRMin = 8;      // 128 kbps
    int VBRMax = 13;     // 320 kbps
    int TrackBar1 = 5;   // 0..9; lame's -V is 9 minus the position
};

inline constexpr int kBitrateCount = 14;
inline constexpr std::array<const char*, 3> kMp3SamplerateNames{"48000", "44100", "32000"};
inline constexpr std::array<const char*, 5> kMp3ChannelNames{"Stereo", "Joint Stereo", "Forced Stereo",
                                                             "Dual Channels", "Mono"};

// The kbps text of an entry of the bitrate lists of the MP3 and OGG pages; "40" for any
// index outside the list (no selection).
std::string BitrateFromIndex(int index);

// The option text lame gets between "lame - " and the output path; starts with a space.
TCommandLine BuildMp3Options(const TMp3Options& o);

// The value label beside the MP3 quality slider: the -V number the position gives.
std::string Mp3QualityLabel(const TMp3Options& o);

} // namespace bw
