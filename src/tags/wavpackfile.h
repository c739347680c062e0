#pragma once

#include "tags/apetag.h"

#include <cstdint>
#include <string>

namespace bw {

class TTagSource;

// Stream information and APE tag of a WavPack file (version 4 blocks, or a version 3 file
// inside a RIFF wrapper).
class TWAVPackfile {
public:
    TWAVPackfile() { Clear(); }
    void Clear();
    // True when a block header or a format chunk was read.
    bool Load(const std::string& path);
    bool Load(TTagSource& source);

    bool Valid() const { return valid_; }
    int64_t FileSize() const { return fileSize_; }
    int Version() const { return version_; }
    int Channels() const { return channels_; }
    int32_t SampleRate() const { return sampleRate_; }
    int BitsPerSample() const { return bitsPerSample_; }
    int64_t Samples() const { return samples_; }
    double Duration() const { return sampleRate_ > 0 ? static_cast<double>(samples_) / sampleRate_ : 0; }
    const TAPETag& APETag() const { return apeTag_; }

private:
    bool ReadVersion4(TTagSource& source);
    bool ReadVersion3(TTagSource& source);

    bool valid_;
    int64_t fileSize_;
    int version_;
    int channels_;
    int32_t sampleRate_;
    int bitsPerSample_;
    int64_t samples_;
    TAPETag apeTag_;
};

} // namespace bw
