#pragma once

#include <array>
#include <cstdint>

namespace bw {

// An absolute disc address in minutes, seconds and frames (75 frames a second), counted
// from the start of the lead-in, so the first track usually starts at 0:02:00.
struct TCdMsf {
    uint8_t Minute = 0;
    uint8_t Second = 0;
    uint8_t Frame = 0;

    int32_t FrameOffset() const { return Minute * 4500 + Second * 75 + Frame; }
    // The address of a logical sector number (sector 0 is the first after the lead-in).
    static TCdMsf FromLsn(int32_t lsn);
    bool operator==(const TCdMsf&) const = default;
};

struct TCDTocTrack {
    TCdMsf Start;
    // The track's control field has the data bit (4) clear; -1 true, 0 false.
    int32_t IsAudio = 0;
};

// A disc's table of contents as the disc database client uses it.
struct TCDToc {
    uint8_t TrackCount = 0;             // last track number - first track number + 1
    TCdMsf LeadOut;                     // the end of the disc
    std::array<TCDTocTrack, 100> Tracks{}; // entry i: the (i+1)-th track of the disc
};

} // namespace bw
