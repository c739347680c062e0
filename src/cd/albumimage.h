#pragma once

#include "cd/cdtext.h"
#include "cd/cdtoc.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bw {

// An album image: a cue sheet naming audio files (one file for the whole album, or one for
// each track) rather than raw CD data. It is listed as a drive; its tracks are cut from the
// files by sample number, so the tracks joined are the files' samples exactly.

struct TAlbumTrack {
    int Number = 0;     // as the sheet numbers it
    std::string Path;   // the audio file it is cut from
    int64_t First = 0;  // its first sample frame in that file
    int64_t End = 0;    // one past its last
    int SampleRate = 0; // the file's own
    int Channels = 0;
    int BitsPerSample = 16; // 24 for a lossless file of more than 16 bits
    int32_t StartFrame = 0; // where it starts in CD frames on the album as one disc
    std::string Title;
    std::string Performer;
    std::string Isrc;

    int64_t Frames() const { return End - First; }
    int64_t LengthBytes() const { return Frames() * Channels * (BitsPerSample / 8); }
};

struct TAlbumImage {
    std::string Sheet;
    std::string Title, Performer, Date, Genre;
    std::string Catalog; // the disc's catalogue number (MCN)
    std::vector<TAlbumTrack> Tracks;
    int32_t LeadOutFrame = 0; // the end of the album, in CD frames

    // The album as a disc for the disc database: a 2 s lead-in before the first track.
    TCDToc Toc() const;
    // The sheet's texts as a disc's CD-TEXT.
    TCdText Text() const;
};

// Reads an album image: the sheet parsed, every audio file found and opened to learn its
// rate, channels and exact length, every INDEX checked against its file. False with the
// reason (naming the sheet line) in *why; nothing of a sheet that fails is kept.
bool OpenAlbumImage(const std::string& path, TAlbumImage& out, std::string* why);

// A sample frame of a file at rate from CD frames (1/75 s): frame x 588 at 44.1 kHz.
inline int64_t CueFrameToSample(int64_t frame, int rate) {
    return frame * rate / 75;
}

} // namespace bw
