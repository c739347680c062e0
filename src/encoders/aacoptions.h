#pragma once

namespace bw {

// The AAC (M4A) page: FFmpeg's own AAC-LC encoder at a constant bit rate.
struct TAacOptions {
    int AACBitrate = 192; // kbit/s, 32..320
};

} // namespace bw
