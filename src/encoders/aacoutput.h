#pragma once

#include "core/jobitem.h"
#include "encoders/aacoptions.h"
#include "tags/mp4tags.h"

namespace bw {

class TItemContext;

// The bit rates the AAC page offers, in kbit/s.
inline constexpr int kAacMinKbps = 32;
inline constexpr int kAacMaxKbps = 320;
// How much longer than its source an AAC file may decode: the encoder pads its last frame
// of 1,024 samples.
inline constexpr uint64_t kAacLongerFrames = 1023;

// The MP4 items an AAC output gets from its job item: title, artist, album, date, genre and
// comment where they are not empty, the track number where there is one.
TMp4Tags AacTagsFor(const TmyMusicFile& item);

// The AAC output of one item: the conversion stream encoded by FFmpeg's AAC encoder at the
// page's bit rate into an .m4a file under a private name beside the target, tagged, checked
// (it decodes to the source's length, at most kAacLongerFrames longer), given the cover when
// covers are carried, then put in the target's place. A source at a rate the encoder does
// not take is first decoded and resampled by our resampler to AacSampleRate. Errors are
// shown and the status is "Error"; a cancel or a failure leaves an existing target as it was.
bool RunAacTarget(TItemContext& context, const TAacOptions& options);

} // namespace bw
