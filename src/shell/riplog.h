#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace bw {

// What a CD run leaves beside its outputs: a log of how each track was read, a cue sheet
// that puts the written files back together as the disc, and a playlist of them.

struct TRipTrack {
    int Number = 0;     // on the disc
    std::string File;   // the output's path; empty when none was written
    std::string Status; // the row's status at the end ("Done", "Error", ...)
    std::string Title, Performer, Isrc;
    int32_t Sectors = 0;       // its length on the disc
    int32_t PregapSectors = 0; // the gap before it (INDEX 00), where an image's sheet gives one
    int64_t LostSectors = 0;
    // From the checksums taken while the track was read; RipChecked false when none were.
    bool RipChecked = false;
    uint32_t CopyCrc = 0;
    int32_t Peak = 0; // 0..32768
    std::string AccurateRip;
    int32_t Confidence = 0;
    // The track's ReplayGain values as its tags hold them; empty when it was not measured.
    std::string ReplayGain, ReplayPeak;

    // Read whole, nothing lost, and matched in the AccurateRip database.
    bool Verified() const;
};

struct TRipRecord {
    std::string Drive; // as the drive list shows it
    int ReadOffset = 0;
    int Retries = 0; // re-reads of a sector before it is given up on
    std::string Album, Performer, Date, Genre, DiscId, Mcn;
    std::chrono::system_clock::time_point Time;
    std::vector<TRipTrack> Tracks; // in disc order
};

std::string RipLogText(const TRipRecord& r);
// The written tracks as a sheet in folder: files named relative to it, each track starting
// its own file, a gap before a track kept as INDEX 00 at the end of the file before.
std::string RipCueText(const TRipRecord& r, const std::string& folder);
// The written tracks as an extended M3U playlist in folder, named relative to it.
std::string RipPlaylistText(const TRipRecord& r, const std::string& folder);

// Writes name.log, name.cue and name.m3u into folder, each under a temporary name first,
// so that a failed write leaves what stood there before. False with the reason in *why.
bool WriteRipFiles(const TRipRecord& r, const std::string& folder, const std::string& name,
                   std::string* why);

} // namespace bw
