#pragma once

#include "tags/apetag.h"
#include "tags/id3v2.h"

#include <cstdint>
#include <string>

namespace bw {

class TTagSource;

// Stream information and tags of a Monkey's Audio file.
class TMonkey {
public:
    TMonkey() { Clear(); }
    void Clear();
    // True when a valid stream header was read.
    bool Load(const std::string& path);
    bool Load(TTagSource& source);

    bool Valid() const { return valid_; }
    int64_t FileSize() const { return fileSize_; }
    uint16_t Version() const { return version_; }
    int Channels() const { return channels_; }
    int32_t SampleRate() const { return sampleRate_; }
    int BitsPerSample() const { return bitsPerSample_; }
    int64_t Samples() const { return samples_; }
    double Duration() const { return sampleRate_ > 0 ? static_cast<double>(samples_) / sampleRate_ : 0; }
    const TID3v2& ID3v2() const { return id3v2_; }
    const TAPETag& APETag() const { return apeTag_; }

private:
    bool valid_;
    int64_t fileSize_;
    uint16_t version_;
    int channels_;
    int32_t sampleRate_;
    int bitsPerSample_;
    int64_t samples_;
    TID3v2 id3v2_;
    TAPETag apeTag_;
};

} // namespace bw
