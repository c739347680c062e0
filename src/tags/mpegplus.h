#pragma once

#include "tags/apetag.h"
#include "tags/id3v1.h"
#include "tags/id3v2.h"

#include <cstdint>
#include <string>

namespace bw {

class TTagSource;

// Stream information and tags of a Musepack file: stream versions 4 to 7.1 ("MP+" and
// older), and stream version 8 ("MPCK"), which today's encoder writes.
class TMPEGplus {
public:
    static constexpr int kStreamVersion8 = 8;

    TMPEGplus() { Clear(); }
    void Clear();
    // False only when the file cannot be read.
    bool Load(const std::string& path);
    bool Load(TTagSource& source);

    bool Valid() const { return valid_; }
    int64_t FileSize() const { return fileSize_; }
    int StreamVersion() const { return streamVersion_; } // 4, 5, 6, 7, 71 (7.1) or 8
    int ChannelMode() const { return channelMode_; }     // 1 stereo, 2 joint stereo
    int Channels() const { return channels_; }
    int32_t SampleRate() const { return sampleRate_; }
    int32_t Frames() const { return frames_; }
    int64_t Samples() const; // for version 8 the exact count, else frames × 1152
    int StreamBitRate() const { return streamBitRate_; }
    double Duration() const;
    int BitRate() const; // kbit/s
    const TID3v1& ID3v1() const { return id3v1_; }
    const TID3v2& ID3v2() const { return id3v2_; }
    const TAPETag& APETag() const { return apeTag_; }

private:
    bool ReadVersion8(TTagSource& source, uint64_t start);

    bool valid_;
    int64_t fileSize_;
    int streamVersion_;
    int channelMode_;
    int channels_;
    int32_t sampleRate_;
    int32_t frames_;
    int64_t samples8_;
    int streamBitRate_;
    TID3v1 id3v1_;
    TID3v2 id3v2_;
    TAPETag apeTag_;
};

} // namespace bw
