#pragma once

#include "core/jobitem.h"
#include "encoders/commandline.h"

#include <array>

namespace bw {

// Every control of the Opus page, with the page's defaults.
struct TOpusOptions {
    int OPUSBitrate = 128;   // kbit/s for the whole stream
    int OPUSMode = 0;        // 0 VBR, 1 constrained VBR, 2 CBR
    int OPUSComplexity = 10; // 0..10
};

// opusenc's range: 6 kbit/s at least; it takes up to 256 per channel and brings a higher
// rate for a mono source down to that itself.
inline constexpr int kOpusMinBitrate = 6;
inline constexpr int kOpusMaxBitrate = 256;
inline constexpr int kOpusMaxMode = 2;
inline constexpr int kOpusMaxComplexity = 10;
inline constexpr std::array<const char*, 3> kOpusModeNames{"VBR", "Constrained VBR", "CBR"};

// The options opusenc gets before its input: quiet, the rate, the mode, the complexity and
// the item's tags as Vorbis comments; the picture file, when there is one, as --picture.
TCommandLine BuildOpusOptions(const TOpusOptions& o, const TmyMusicFile& item,
                              const std::string& picture);

} // namespace bw
