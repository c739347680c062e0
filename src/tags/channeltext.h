#pragma once

#include <string>

namespace bw {

// The channel-mode text shown for a channel count: "Unknown", "Mono", "Stereo".
inline std::string ChannelCountText(int channels) {
    switch (channels) {
    case 1: return "Mono";
    case 2: return "Stereo";
    default: return "Unknown";
    }
}

} // namespace bw
