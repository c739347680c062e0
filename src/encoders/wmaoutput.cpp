#include "encoders/wmaoutput.h"

#include "audio/audiostream.h"
#include "common/outputfile.h"
#include "encoders/cdcodes.h"
#include "encoders/externalencoder.h"
#include "encoders/itemcontext.h"
#include "encoders/releasetags.h"
#include "encoders/wavoutput.h"
#include "tags/wmafile.h"

#include <vector>

namespace bw {

namespace {

constexpr int kShare = 33;
constexpr int kEncodingGaugeStart = 90;

} // namespace

std::vector<TWmaTag> WmaTagsFor(const TmyMusicFile& item) {
    std::vector<TWmaTag> tags{{"Title", item.Title},         {"Author", item.Artist},
                              {"Description", item.Comment}, {"WM/AlbumTitle", item.Album},
                              {"WM/Genre", item.Genre},      {"WM/Year", item.Year}};
    if (item.Track > 0) {
        tags.push_back({"WM/TRACK", std::to_string(item.Track - 1)});
        tags.push_back({"WM/TrackNumber", std::to_string(item.Track)});
    }
    for (const auto& [key, value] : CdCodeTags(item, "WM/ISRC", "WM/Barcode"))
        tags.push_back({key, value});
    for (const auto& [key, value] : ReleaseTags(item, kWmaReleaseNames))
        tags.push_back({key, value});
    return tags;
}

bool EncodeWma(TItemContext& context, TAudioStream& stream, const std::string& path,
               const std::string& shownPath, int bitrate) {
    context.ClearCancelCurrent();
    const TChannelInfo info = stream.Info();
    // wmav2 encodes 48000 Hz in stereo only.
    const int channels = info.SampleRate == 48000 ? 2 : info.Channels;
    if (channels != info.Channels || info.EightBit)
        return FailItem(context, CantCreateFileMessage(shownPath) + "\nThe audio is not " +
                                 std::to_string(channels) + "-channel 16-bit PCM.");
    const auto tags = WmaTagsFor(context.CurrentJob());
    TWmaEncoder encoder;
    if (!encoder.Open(path, info.SampleRate, channels, bitrate, tags))
        return FailItem(context, CantCreateFileMessage(shownPath) + "\n" + encoder.LastError());

    std::vector<std::byte> block(kEncoderReadBlock);
    int percent = kEncodingGaugeStart;
    for (;;) {
        const int64_t n = stream.Read(block);
        if (n <= 0)
            break;
        if (!encoder.Write(std::span(block.data(), static_cast<size_t>(n))))
            return FailItem(context, CantCreateFileMessage(shownPath) + "\n" + encoder.LastError());
        context.MeasureLoudness(info, std::span(block.data(), static_cast<size_t>(n)));
        percent = kEncodingGaugeStart + ProgressPercent(stream.Position(), stream.LengthBytes()) / 10;
        if (ItemCancelledAt(context, percent)) {
            encoder.Close();
            return false;
        }
    }
    if (!stream.DeliveredAll())
        return FailItem(context, SourceEndedEarlyMessage(shownPath, stream));
    if (!encoder.Close())
        return FailItem(context, CantCreateFileMessage(shownPath) + "\n" + encoder.LastError());
    return true;
}

bool RunWmaTarget(TItemContext& context, const TWmaOptions& options) {
    const std::string& target = context.CurrentJob().TargetPath;
    const int rate = WmaSampleRate(options);
    const int channels = WmaChannelCount(options);
    const int bitrate = WmaBitrate(options);
    // Found out before the source is decoded, not after: with no bitrate there is nothing
    // the encoder could write.
    if (bitrate == 0)
        return FailItem(context, "Can't encode \"" + target + "\": no WMA bitrate is chosen for " +
                                 std::to_string(rate) + " Hz " + (channels == 1 ? "mono" : "stereo") +
                                 ".");
    const std::string folder = PrepareWavPath(context);
    if (folder.empty())
        return false;

    // The decoded source is gone once it is resampled; the disk may be needed for the output.
    const TScopedFile tempWma(folder + "tempwma.wav");
    if (!DecodeAndResample(context, folder, tempWma.Path(), tempWma.Path(), kShare, rate, channels))
        return false;

    TAudioError error = TAudioError::Ok;
    const auto stream = TAudioStream::OpenFile(tempWma.Path(), &error);
    if (!stream)
        return FailItem(context, "Can\"t loading file \"" + tempWma.Path() + "\"!\nError code: " +
                                 std::to_string(static_cast<int>(error)));
    TPendingOutput pending(target);
    if (!EncodeWma(context, *stream, pending.TemporaryPath(), target, bitrate))
        return false;
    if (std::string why; !pending.Commit(why))
        return FailItem(context, CantCreateFileMessage(target) + "\n" + why);
    return true;
}

} // namespace bw
