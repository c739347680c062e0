#pragma once

#include <array>

namespace bw {

// Every control of the APE page, with the page's default.
struct TApeOptions {
    int APEMyTrackBar = 2; // 1..4: "Fast", "Normal", "High", "Extra High"
};

inline constexpr int kApeMinPosition = 1;
inline constexpr int kApeMaxPosition = 4;
inline constexpr std::array<const char*, 4> kApePositionNames{"Fast", "Normal", "High",
                                                              "Extra High"};

// The compression level the compressor takes for a slider position: position x 1000.
inline int ApeCompressionLevel(const TApeOptions& o) { return o.APEMyTrackBar * 1000; }

} // namespace bw
