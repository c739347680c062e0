#pragma once

#include "cd/cddrives.h"
#include "core/jobitem.h"

#include <cstdint>
#include <vector>

namespace bw {

// The job item of audio track t (from 1) of a drive: "CD Track t", 44.1 kHz 16-bit
// stereo, the track's length in bytes and 177 bytes for each millisecond of it.
TmyMusicFile MakeCdTrackItem(int track, int64_t lengthBytes, uint8_t drive);

// Gives a track item another format than a CD's (an album image's track): its rate,
// channels and the bit rate, duration and channel mode that follow from them.
void SetCdTrackFormat(TmyMusicFile& item, int sampleRate, int channels, int bitsPerSample);

// The job items of a disc's audio tracks in track order; data tracks are left out and
// keep their numbers. TableIndex counts on from firstTableIndex.
std::vector<TmyMusicFile> CdTrackItems(const std::vector<TCdTrack>& tracks, uint8_t drive,
                                       int32_t firstTableIndex);

} // namespace bw
