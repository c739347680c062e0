#pragma once

#include "core/jobitem.h"
#include "encoders/commandline.h"

#include <array>
#include <string>

namespace bw {

// Every control of the OGG page, with the page's defaults.
struct TOggOptions {
    int OGGChannels = 0;    // "Stereo", "Mono"
    int OGGSamplerate = 1;  // "48000", "44100", ... "8000"
    bool OGGQ = true;       // OGGQ and BitrateManager are one pair of radio buttons
    int TrackBar2 = 4;      // quality -1..10
    bool BitrateManager = false;
    int OGGNominal = 8;     // 128 kbps
    bool OGGVBR = false;
    int OGGMin = 8;         // 128 kbps
    int OGGMax = 13;        // 320 kbps
};

inline constexpr int kOggSamplerateCount = 9;
inline constexpr std::array<const char*, 2> kOggChannelNames{"Stereo", "Mono"};
inline constexpr int kOggMinQuality = -1;
inline constexpr int kOggMaxQuality = 10;

// The text of an entry of the page's sample-rate list; empty for no selection.
std::string OggSamplerateText(int index);

// Everything oggenc gets after its name: the options, the output path, the item's tags as
// comments and the standard-input dash. Starts with a space.
TCommandLine BuildOggOptions(const TOggOptions& o, const TmyMusicFile& item);

// The value label of the quality slider with its estimated bitrate, e.g. "4 (~128 kbps)".
std::string OggQualityLabel(const TOggOptions& o);

} // namespace bw
