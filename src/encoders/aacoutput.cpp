#include "encoders/aacoutput.h"

#include "audio/aacencoder.h"
#include "audio/audiostream.h"
#include "common/outputfile.h"
#include "encoders/cdcodes.h"
#include "encoders/coverart.h"
#include "encoders/externalencoder.h"
#include "encoders/itemcontext.h"
#include "encoders/outputcheck.h"
#include "encoders/wavoutput.h"

#include <algorithm>
#include <filesystem>
#include <vector>

namespace bw {

namespace {

// Where the gauge stands when encoding starts after decoding and resampling.
constexpr int kResampledShare = 33;
constexpr int kResampledEncodingStart = 90;

// Encodes stream into the item's target; the gauge goes from gaugeFrom to 100.
bool EncodeAac(TItemContext& context, TAudioStream& stream, int bitrate, int gaugeFrom) {
    const TmyMusicFile& item = context.CurrentJob();
    const std::string& target = item.TargetPath;
    const auto fail = [&](const std::string& why) {
        return FailItem(context, CantCreateFileMessage(target) + "\n" + why);
    };
    context.ClearCancelCurrent();
    TPendingOutput pending(target);
    TAacEncoder encoder;
    if (!encoder.Open(pending.TemporaryPath(), stream.Info(), bitrate, AacTagsFor(item)))
        return fail(encoder.LastError());

    std::vector<std::byte> block(kEncoderReadBlock);
    int percent = gaugeFrom;
    bool readFailed = false;
    for (;;) {
        const int64_t n = stream.Read(block);
        if (n <= 0) {
            readFailed = n < 0;
            break;
        }
        if (!encoder.Write(std::span(block.data(), static_cast<size_t>(n))))
            return fail(encoder.LastError());
        context.MeasureLoudness(stream.Info(), std::span(block.data(), static_cast<size_t>(n)));
        percent = gaugeFrom + ProgressPercent(stream.Position(), stream.LengthBytes()) *
                                  (100 - gaugeFrom) / 100;
        if (ItemCancelledAt(context, percent))
            return false; // what was written goes with the pending output
    }
    if (readFailed || !stream.DeliveredAll())
        return FailItem(context, SourceEndedEarlyMessage(item.SourcePath, stream));
    if (!encoder.Close())
        return fail(encoder.LastError());
    const TFedAudio fed{encoder.FramesWritten(), stream.Info().SampleRate};
    if (const std::string bad = CheckDecodedLength(pending.TemporaryPath(), fed, kAacLongerFrames);
        !bad.empty())
        return FailItem(
            context, "Encoding \"" + target +
                         "\" failed: the file the AAC encoder wrote is incomplete: " + bad + ".");
    CarryCover(context, pending.TemporaryPath(), TTargetType::Aac);
    context.SetItemPercent(100);
    if (std::string why; !pending.Commit(why))
        return fail(why);
    return true;
}

} // namespace

TMp4Tags AacTagsFor(const TmyMusicFile& item) {
    TMp4Tags tags;
    tags.SetText(kMp4Title, item.Title);
    tags.SetText(kMp4Artist, item.Artist);
    tags.SetText(kMp4Album, item.Album);
    tags.SetText(kMp4Date, item.Year);
    tags.SetText(kMp4Genre, item.Genre);
    tags.SetText(kMp4Comment, item.Comment);
    tags.SetTrack(item.Track);
    for (const auto& [name, value] : CdCodeTags(item, "ISRC", "BARCODE"))
        tags.SetText(std::string(kMp4Freeform) + std::string(kMp4ITunesMean) + ":" + name, value);
    tags.SetRelease(ReleaseTextsOf(item));
    return tags;
}

bool RunAacTarget(TItemContext& context, const TAacOptions& options) {
    const std::string& target = context.CurrentJob().TargetPath;
    if (options.AACBitrate < kAacMinKbps || options.AACBitrate > kAacMaxKbps)
        return FailItem(context, "Can't encode \"" + target + "\": the AAC bit rate " +
                                     std::to_string(options.AACBitrate) +
                                     " kbit/s is not between " + std::to_string(kAacMinKbps) +
                                     " and " + std::to_string(kAacMaxKbps) + " kbit/s.");
    const int bitrate = options.AACBitrate * 1000;
    TAudioStream& source = context.ConversionStream();
    const TChannelInfo info = source.Info();
    const int rate = AacSampleRate(info.SampleRate);
    if (rate == info.SampleRate) {
        std::error_code ec;
        if (std::filesystem::exists(target, ec) && !IsReplaceableOutput(target))
            return FailItem(context, CantCreateFileMessage(target));
        return EncodeAac(context, source, bitrate, 0);
    }
    // The resampler takes one or two channels: a wider source is brought down to stereo.
    const std::string folder = PrepareWavPath(context);
    if (folder.empty())
        return false;
    const TScopedFile resampled(folder + "tempaac.wav");
    if (!DecodeAndResample(context, folder, resampled.Path(), target, kResampledShare, rate,
                           std::min(info.Channels, 2)))
        return false;
    TAudioError error = TAudioError::Ok;
    const auto stream = TAudioStream::OpenFile(resampled.Path(), &error);
    if (!stream)
        return FailItem(context, CantCreateFileMessage(target) +
                                     "\nThe resampled audio can't be read (error code " +
                                     std::to_string(static_cast<int>(error)) + ").");
    return EncodeAac(context, *stream, bitrate, kResampledEncodingStart);
}

} // namespace bw
