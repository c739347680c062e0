#pragma once

#include "cd/cddrives.h"
#include "core/jobitem.h"

#include <cstdint>
#include <vector>

namespace bw {

// The job item of audio track t (from 1) of a drive: "CD Track t", 44.1 kHz 16-bit
// stereo, the track's length in bytes and 177 bytes for each millisecond of it.
TmyMusicFile MakeCdTrackItem(int track, int64_t lengthBytes, uint8_t drive);

// The job items of a disc's audio tracks in track order; data tracks are left out and
// keep their numbers. TableIndex counts on from firstTableIndex.
std::vector<TmyMusicFile> CdTrackItems(const std::vector<TCdTrack>& tracks, uint8_t drive,
                                       int32_t firstTableIndex);

} // namespace bw
