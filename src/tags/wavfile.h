#pragma once

#include <cstdint>
#include <string>

namespace bw {

class TTagSource;

// Stream information of a RIFF WAVE file, from its fmt and data chunks.
class TWAVfile {
public:
    TWAVfile() { Clear(); }
    void Clear();
    // False only on a read error; a file that is not a usable WAV loads with Valid() false.
    bool Load(const std::string& path);
    bool Load(TTagSource& source);

    // A usable mono or stereo WAV. The program's readers show only those; the probe also
    // takes files of more channels (see HeaderValid), which the conversion downmixes.
    bool Valid() const { return valid_; }
    // Every check of Valid() but the channel count's (any count above 0).
    bool HeaderValid() const { return headerValid_; }
    uint16_t FormatTag() const { return formatTag_; }
    uint16_t Channels() const { return channels_; }
    uint16_t BlockAlign() const { return blockAlign_; }
    uint16_t BitsPerSample() const { return bitsPerSample_; }
    int32_t SampleRate() const { return sampleRate_; }
    int32_t BytesPerSecond() const { return bytesPerSecond_; }
    int64_t SampleCount() const { return sampleCount_; }
    int64_t HeaderSize() const { return headerSize_; }
    int64_t FileSize() const { return fileSize_; }
    // The "data" chunk was found, states a definite size (neither 0 nor the largest, as an
    // unfinished stream has) and the file holds all of it: HeaderSize() and SampleCount()
    // then say exactly where the samples lie.
    bool DataWhole() const { return dataWhole_; }
    double Duration() const;
    std::string ChannelModeText() const;

private:
    bool valid_;
    bool headerValid_;
    bool dataWhole_;
    uint16_t formatTag_, channels_, blockAlign_, bitsPerSample_;
    int32_t sampleRate_, bytesPerSecond_;
    int64_t sampleCount_, headerSize_, fileSize_;
};

} // namespace bw
