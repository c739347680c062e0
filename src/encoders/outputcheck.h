#pragma once

#include "encoders/targettype.h"

#include <cstdint>
#include <string>

namespace bw {

// What an outside encoder was fed: sample frames at a rate.
struct TFedAudio {
    uint64_t Frames = 0;
    int SampleRate = 0;
};

// Checks an outside encoder's finished output before it takes the target's place: the file
// is there, the sample count it records (FLAC STREAMINFO, the LAME/Xing header, the last
// Ogg granule, the Musepack stream header, the WavPack block header, the Opus granule less its
// pre-skip) matches what was fed in, within one encoder frame
// after the encoder's delay and padding, and its last second decodes. An encoder that
// exits well after a full disk cut its file short is caught here. Cheap: the headers and
// the last second are read, not the whole file. Empty when the output holds up, else why
// not, as a sentence for the user.
std::string CheckEncoderOutput(TTargetType target, const std::string& path, const TFedAudio& fed);

// Checks an output written in-process at the rate it was fed: its end decodes, at fed.Frames
// sample frames or up to longer frames after (an encoder that pads its last frame). Empty
// when it does, else why not, as a sentence for the user.
std::string CheckDecodedLength(const std::string& path, const TFedAudio& fed, uint64_t longer);

// The sample count an MP3 file's LAME/Xing header records, the encoder's delay and padding
// taken off; -1 when it has no such header. Its sample rate goes to *rate.
int64_t Mp3RecordedSamples(const std::string& path, int* rate);

} // namespace bw
