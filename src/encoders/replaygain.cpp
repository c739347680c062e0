#include "encoders/replaygain.h"

#include "tags/apetag.h"
#include "tags/asftags.h"
#include "tags/flacfile.h"
#include "tags/id3v2.h"
#include "tags/mp4tags.h"
#include "tags/oggvorbis.h"

namespace bw {

bool TakesLoudnessTags(TTargetType target) {
    return target != TTargetType::Wav;
}

TTagItems LoudnessTagItems(TTargetType target, const TLoudness& loudness, bool album) {
    if (!TakesLoudnessTags(target) || !loudness.Integrated)
        return {};
    const std::string kind = album ? "ALBUM" : "TRACK";
    // Opus players apply R128 gains; ReplayGain items there would be applied twice.
    if (target == TTargetType::Opus)
        return {{"R128_" + kind + "_GAIN", OpusGainText(*loudness.Integrated)}};
    return {{"REPLAYGAIN_" + kind + "_GAIN", ReplayGainText(*loudness.Integrated)},
            {"REPLAYGAIN_" + kind + "_PEAK", ReplayPeakText(loudness.Peak)}};
}

bool AddLoudnessTags(TTargetType target, const std::string& path, const TTagItems& items,
                     std::string& error) {
    if (items.empty())
        return true;
    // The outputs were written by this run a moment ago: a rewrite need not force them to the
    // disk any more than their first write did.
    constexpr bool kFresh = true;
    switch (target) {
    case TTargetType::Mp3:
        return TID3v2::WriteUserTexts(path, items, error, kFresh);
    case TTargetType::Flac:
        return TFLACfile::WriteComments(path, items, error, kFresh);
    case TTargetType::Ogg:
        return WriteOggComments(path, items, error);
    case TTargetType::Opus:
        return WriteOpusComments(path, items, error, kFresh);
    case TTargetType::Ape:
    case TTargetType::Mpc:
    case TTargetType::WavPack:
        return TAPETag::WriteItems(path, items, error);
    case TTargetType::Aac:
        return TMp4Tags::WriteFreeform(path, items, error, kFresh);
    case TTargetType::Wma:
        return AddAsfAttributes(path, items, error, kFresh);
    case TTargetType::Wav:
        break;
    }
    return true;
}

} // namespace bw
