#pragma once

// Disc images for every test that reads CDs: real audio made by ffmpeg, written into a .bin
// as a disc holds it (each track padded to whole 2352-byte sectors), with the cue sheet or
// .toc file that describes it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bwtest {

struct TTrackSpec {
    double Seconds = 0;
    bool Data = false; // a MODE1/2352 data track instead of audio
};

struct TTestImage {
    std::string Sheet;                        // the .cue or .toc path
    std::string Bin;                          // the data file
    std::vector<std::vector<std::byte>> Pcm;  // each track's bytes, padded to whole sectors
    std::vector<int32_t> StartLsn;            // each track's first sector
    int32_t LeadOutLsn = 0;
};

// Writes dir/<name>.cue (or .toc when toc) and its data file (dir/<binName>, by default
// <name>.bin). The sheet names the data file by its bare name. Audio tracks differ from
// each other (their own tones over seeded noise).
TTestImage MakeImage(const std::string& dir, const std::string& name,
                     const std::vector<TTrackSpec>& tracks, const std::string& binName = {},
                     bool toc = false);

// The ffmpeg-made PCM of one audio track (seconds of 44.1 kHz 16-bit stereo), unpadded.
std::vector<std::byte> MakeTrackPcm(double seconds, int seed);

// An "mm:ss:ff" time of a sector count.
std::string Msf(int32_t sectors);

} // namespace bwtest
