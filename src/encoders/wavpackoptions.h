#pragma once

#include "encoders/commandline.h"

#include <array>
#include <string>

namespace bw {

// Every control of the WavPack page, with the page's defaults.
struct TWavPackOptions {
    int WVMode = 1;            // 0..3: "Fast", "Normal", "High", "Very High"
    bool WVHybrid = false;     // lossy hybrid mode at WVBits bits per sample
    int WVBits = 40;           // hybrid bits per sample x 10: 20..239 (2.0..23.9)
    bool WVCorrection = false; // hybrid only: also write the .wvc that makes it lossless
};

inline constexpr int kWavPackMaxMode = 3;
inline constexpr int kWavPackMinBits = 20;
inline constexpr int kWavPackMaxBits = 239;
inline constexpr std::array<const char*, 4> kWavPackModeNames{"Fast", "Normal", "High",
                                                              "Very High"};

// The bits per sample as wavpack's -b takes them and the page shows them: 40 -> "4.0".
std::string WavPackBitsText(int bitsTimesTen);
// Whether the options make wavpack write a correction file beside the output.
inline bool WritesCorrectionFile(const TWavPackOptions& o) { return o.WVHybrid && o.WVCorrection; }

// The options wavpack gets before its input: quiet, overwrite, the length read to the end
// of the input, the mode and the hybrid
// switches. The tags are written into the finished file, as for Monkey's Audio: wavpack
// would read a value starting with "@" as the name of a file to take it from.
TCommandLine BuildWavPackOptions(const TWavPackOptions& o);

} // namespace bw
