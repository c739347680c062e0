#pragma once

// ReplayGain tags of a finished output: which items each target takes, and the one call
// that adds them to the file, used once an item is written (its track values) and again
// when the last item of its album is (the album values).

#include "audio/loudness.h"
#include "encoders/targettype.h"

#include <string>
#include <utility>
#include <vector>

namespace bw {

// What "ReplayGain tags" asks for; the stored value is the number.
enum class TReplayGainMode : int { Off = 0, Track = 1, TrackAndAlbum = 2 };

using TTagItems = std::vector<std::pair<std::string, std::string>>;

// Whether outputs of target get loudness tags (WAV has none).
bool TakesLoudnessTags(TTargetType target);
// The items of one measure for target: the REPLAYGAIN_TRACK_* or _ALBUM_* pair, or for
// Opus its R128_TRACK_GAIN or R128_ALBUM_GAIN alone; none for silence or a target without
// tags.
TTagItems LoudnessTagItems(TTargetType target, const TLoudness& loudness, bool album);
// Adds the items to the finished output at path, replacing items of the same names (in any
// letter case) and keeping every other tag and the audio; the file is rebuilt under a
// temporary name where it must grow. False, with error, when it could not be changed: it is
// then as it was.
bool AddLoudnessTags(TTargetType target, const std::string& path, const TTagItems& items,
                     std::string& error);

} // namespace bw
