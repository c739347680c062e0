#include "audio/wmaencoder.h"

#include "tags/asftags.h"

namespace bw {

namespace {

// A tag that only keeps room in the header for moving the description tags when the file
// is finished (PlaceAsfDescriptionTags); it does not stay in the file.
constexpr const char* kReserveTag = "WM/ReservedForTags";

} // namespace

bool TWmaEncoder::Open(const std::string& path, int sampleRate, int channels, int bitrate,
                       std::span<const TWmaTag> tags) {
    encoder_.Close();
    error_.clear();
    if (channels != 1 && channels != 2) {
        error_ =
            "the WMA encoder takes mono or stereo, not " + std::to_string(channels) + " channels";
        return false;
    }
    TAvFileFormat format;
    format.Encoder = "wmav2";
    format.Muxer = "asf";
    format.CodecName = "WMA";
    format.Container = "ASF";
    // Names as given, in the given order: the ASF writer keeps the dictionary's order and
    // renames only FFmpeg's own generic keys (album, artist, ...), which none of ours is.
    format.Tags.assign(tags.begin(), tags.end());
    if (!tags.empty()) {
        format.Tags.push_back({kReserveTag, std::string(kAsfReserveValueBytes / 2, ' ')});
        format.Finish = [](const std::string& written, std::string* error) {
            return PlaceAsfDescriptionTags(written, kReserveTag, error);
        };
    }
    TChannelInfo pcm;
    pcm.SampleRate = sampleRate;
    pcm.Channels = channels;
    return encoder_.Open(path, std::move(format), pcm, bitrate);
}

} // namespace bw
