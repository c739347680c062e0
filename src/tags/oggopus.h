#pragma once

// Stream facts and comment of an Ogg Opus file, read from its two header packets and its
// last page, so that a folder of Opus files is listed without opening a demuxer for each.

#include "core/releasefields.h"

#include <cstdint>
#include <string>

namespace bw {

class TTagSource;

class TOggOpus {
public:
    // Opus is always decoded at this rate, whatever rate the encoder was given.
    static constexpr int32_t kDecodeRate = 48000;

    // False when the file cannot be read or its first stream is not Opus.
    bool Load(const std::string& path);
    bool Load(TTagSource& source);

    int64_t FileSize() const { return fileSize_; }
    uint8_t Channels() const { return channels_; }
    // The rate the encoder was given; informational, the stream decodes at kDecodeRate.
    uint32_t InputSampleRate() const { return inputRate_; }
    // Samples at 48 kHz, the encoder's delay (pre-skip) left out; 0 when the last page
    // could not be found.
    int64_t Samples() const { return samples_; }
    double Duration() const;
    int64_t BitRate() const; // bits per second over the whole file

    const std::string& Title() const { return title_; }
    const std::string& Artist() const { return artist_; }
    const std::string& Album() const { return album_; }
    const std::string& Date() const { return date_; }
    const std::string& Genre() const { return genre_; }
    const std::string& Comment() const { return comment_; }
    const std::string& TrackText() const { return trackText_; }
    const TReleaseTexts& Release() const { return release_; }

private:
    int64_t fileSize_ = 0;
    uint8_t channels_ = 0;
    uint32_t inputRate_ = 0;
    int64_t samples_ = 0;
    std::string title_, artist_, album_, date_, genre_, comment_, trackText_;
    TReleaseTexts release_;
};

} // namespace bw
