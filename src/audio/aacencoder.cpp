#include "audio/aacencoder.h"

#include <algorithm>

namespace bw {

int AacSampleRate(int sourceRate) {
    // The list runs high to low: the last rate at or above the source's is the nearest one.
    int rate = kAacSampleRates.front();
    for (const int offered : kAacSampleRates)
        if (offered >= sourceRate)
            rate = offered;
    return rate;
}

bool TAacEncoder::Open(const std::string& path, const TChannelInfo& pcm, int bitrate,
                       TMp4Tags tags) {
    TAvFileFormat format;
    format.Encoder = "aac";
    format.Muxer = "ipod"; // MP4 as .m4a players expect it
    format.CodecName = "AAC";
    format.Container = "MP4";
    format.MuxerOptions = {{"movflags", "+faststart"}};
    format.Finish = [tags = std::move(tags)](const std::string& written,
                                             std::string* error) mutable {
        if (tags.Items().empty() || tags.Save(written, true))
            return true;
        *error = "cannot write the tags of \"" + written + "\": " + tags.LastError();
        return false;
    };
    return encoder_.Open(path, std::move(format), pcm, bitrate);
}

} // namespace bw
