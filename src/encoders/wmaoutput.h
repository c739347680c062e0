#pragma once

#include "audio/wmaencoder.h"
#include "core/jobitem.h"
#include "encoders/wmaoptions.h"

#include <string>
#include <vector>

namespace bw {

class TAudioStream;
class TItemContext;

// The tags a WMA output gets from its job item, in the order they are written: "Title",
// "Author", "Description", "WM/AlbumTitle", "WM/Genre", "WM/Year", "WM/TRACK" (the track
// minus one), then "WM/TrackNumber" (the track itself), which is what players show today.
// An item without a track number gets neither track tag.
std::vector<TWmaTag> WmaTagsFor(const TmyMusicFile& item);

// Encodes a stream of the chosen rate and channel count into path, tagged from the current
// job item; the gauge goes from 90 to 100. True only when the file holds the whole stream.
// A cancel closes the encoder properly (the partial file is playable) and returns false with
// the cancel text; an error is shown and the status is "Error".
bool EncodeWma(TItemContext& context, TAudioStream& stream, const std::string& path,
               const std::string& shownPath, int bitrate);

// The WMA output of one item: the source is brought to the page's rate and channels through
// the WAV path into tempwma.wav, which is then encoded under a private name beside the
// target; that file takes the target's place when complete. A cancelled one is kept under the
// target's name only where no file stood before.
bool RunWmaTarget(TItemContext& context, const TWmaOptions& options);

} // namespace bw
