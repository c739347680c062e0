#pragma once

#include "tags/id3v2.h"

#include <cstdint>
#include <string>

namespace bw {

class TTagSource;

// Stream information and Vorbis comment of a FLAC file.
class TFLACfile {
public:
    TFLACfile() { Clear(); }
    void Clear();
    // False when the file cannot be read.
    bool Load(const std::string& path);
    bool Load(TTagSource& source);

    int64_t FileSize() const { return fileSize_; }
    int Channels() const { return channels_; }
    int32_t SampleRate() const { return sampleRate_; }
    int BitsPerSample() const { return bitsPerSample_; }
    int64_t Samples() const { return samples_; }
    int64_t AudioOffset() const { return audioOffset_; }
    const TID3v2& ID3v2() const { return id3v2_; }
    const std::string& TrackText() const { return trackText_; }
    const std::string& Title() const { return title_; }
    const std::string& Artist() const { return artist_; }
    const std::string& Album() const { return album_; }
    const std::string& Date() const { return date_; }
    const std::string& Genre() const { return genre_; }
    const std::string& Comment() const { return comment_; }

    bool Valid() const;
    double Duration() const;

private:
    bool signature_;
    int64_t fileSize_;
    int channels_;
    int32_t sampleRate_;
    int bitsPerSample_;
    int64_t samples_;
    int64_t audioOffset_;
    TID3v2 id3v2_;
    std::string trackText_, title_, artist_, album_, date_, genre_, comment_;
};

} // namespace bw
