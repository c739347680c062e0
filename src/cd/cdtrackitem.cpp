#include "cd/cdtrackitem.h"

#include "tags/channeltext.h"

namespace bw {

TmyMusicFile MakeCdTrackItem(int track, int64_t lengthBytes, uint8_t drive) {
    TmyMusicFile item;
    item.SourcePath = "CD Track " + std::to_string(track);
    item.FileSize = lengthBytes;
    item.DurationMs = static_cast<int32_t>(lengthBytes / 177);
    item.Bitrate = 1411200;
    item.SampleRate = 44100;
    item.ChannelMode = "Stereo";
    item.Channels = 2;
    item.Track = static_cast<uint8_t>(track);
    item.SourceType = TSourceType::CdTrack;
    item.TypeName = "CD Track";
    item.CdDrive = drive;
    return item;
}

void SetCdTrackFormat(TmyMusicFile& item, int sampleRate, int channels, int bitsPerSample) {
    const int64_t bytesPerSecond = int64_t{sampleRate} * channels * (bitsPerSample / 8);
    item.SampleRate = sampleRate;
    item.Channels = static_cast<uint8_t>(channels);
    item.ChannelMode = ChannelCountText(channels);
    item.Bitrate = static_cast<int32_t>(bytesPerSecond * 8);
    item.DurationMs =
        bytesPerSecond > 0 ? static_cast<int32_t>(item.FileSize * 1000 / bytesPerSecond) : 0;
}

std::vector<TmyMusicFile> CdTrackItems(const std::vector<TCdTrack>& tracks, uint8_t drive,
                                       int32_t firstTableIndex) {
    std::vector<TmyMusicFile> items;
    for (const TCdTrack& t : tracks) {
        if (!t.IsAudio)
            continue;
        items.push_back(MakeCdTrackItem(t.Number, t.LengthBytes, drive));
        if (t.SampleRate != 44100 || t.Channels != 2 || t.BitsPerSample != 16)
            SetCdTrackFormat(items.back(), t.SampleRate, t.Channels, t.BitsPerSample);
        items.back().Isrc = t.Isrc;
        items.back().Barcode = t.Mcn;
        items.back().TableIndex = firstTableIndex++;
    }
    return items;
}

} // namespace bw
