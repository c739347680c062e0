#pragma once

#include "encoders/wavoptions.h"

#include <cstdint>
#include <functional>
#include <string>

namespace bw {

class TItemContext;

// Told, while the decoded file is written, how many bytes of it are on disk, so that a
// reader can follow the file as it grows.
using TWrittenHook = std::function<void(uint64_t bytes)>;

// Decodes the whole conversion stream into a plain PCM WAV file at path (replacing one
// there): the first stage of the WAV, WMA and Monkey's Audio outputs. The item's gauge goes
// from 0 to share. False after an error (shown; status "Error") or a cancel (status
// "NN% Canceled"). Until the end the header's sizes read "to the end of the file", so a
// reader following the file (told of its growth by the hook) takes everything that comes.
// measure: the decoded audio is what is encoded (Monkey's Audio), so it goes to the item's
// loudness meter.
bool WriteTempWav(TItemContext& context, const std::string& path, int share,
                  const TWrittenHook& written = {}, bool measure = false);

// What ConvertWav makes of the decoded file.
struct TWavConversion {
    std::string TempWav;     // the decoded source (WriteTempWav's file)
    std::string Temp2Wav;    // the pipeline's output, the resampler's input
    std::string Output;      // the file the resampler writes
    std::string ShownOutput; // how messages name Output
    int Share = 50;
    bool Normalize = false;
    int SampleRate = 44100;
    int Channels = 2; // 1 or 2
    int Bits = 16;    // 8 or 16
};

// Takes the decoded file through the pipeline (8 to 16 bits, mono to stereo or back) into
// Temp2Wav, then through the resampler into Output at the rate and width asked for. The
// gauge goes on from share to share + share / 2 in the pipeline, a step a second up to 90
// while the resampler works, then to 100 (share 50) or 90. True only when Output holds the
// whole resampled audio; otherwise the error is shown (status "Error") or the cancel text set,
// and whatever was begun at Output is removed.
bool ConvertWav(TItemContext& context, const TWavConversion& job);

// The item's source decoded into folder's temp.wav (the gauge up to share) and taken by
// ConvertWav to rate, channels and 16 bits into output, for an encoder that takes only some
// formats; the working files in between are gone afterwards. False as ConvertWav.
bool DecodeAndResample(TItemContext& context, const std::string& folder, const std::string& output,
                       const std::string& shownOutput, int share, int rate, int channels);

// What every output through the WAV path does first: an existing target that cannot be
// replaced is an error before any work is done, and the private folder for the working files
// is made. The folder (with its separator); empty after the error was shown.
std::string PrepareWavPath(TItemContext& context);

// The WAV output of one item: WriteTempWav, then ConvertWav into a private name beside the
// target, which then takes the target's place. A cancel or a failure leaves an existing
// target as it was.
bool RunWavTarget(TItemContext& context, const TWavOptions& options);

} // namespace bw
