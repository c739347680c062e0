#pragma once

// The stream facts, tags and front cover of an audio file that none of the program's own
// readers knows (MP4/M4A, Opus, AIFF, TTA, DSF, Matroska, ...), read from FFmpeg's demuxer
// out of the container's headers: no audio is decoded.

#include "audio/ffmpegptr.h"
#include "core/releasefields.h"
#include "tags/picture.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bw {

// The demuxers FFmpeg may choose for a file the program opens: audio containers and raw
// audio streams only. Playlists, and anything else that would open further files or
// addresses named inside the file, are left out.
inline constexpr const char* kAudioDemuxers =
    "aac,ac3,aiff,ape,asf,au,caf,dsf,eac3,flac,iff,matroska,mov,mp3,mpc,mpc8,ogg,tta,w64,wav,wv";

// Lets FFmpeg log real errors only: the binding reports through its own results, and a
// damaged packet or an unusual header is no news for standard error.
void QuietFfmpegLog();

// Whether a codec is plain PCM (of any width and byte order).
bool IsPcmCodec(AVCodecID id);

// Opens a local file for demuxing with one of kAudioDemuxers, through the file protocol
// alone (a name like "http:x.m4a" stays a file name). demuxer: the one of them to try
// first, as the file's name suggests; when it cannot read the file, FFmpeg guesses from
// the content, as without one. (Guessing runs every demuxer's test over the file's start,
// which costs more than reading the headers.) Returns avformat_open_input's result; format
// is set on success. The caller makes sure the path is a regular file.
int OpenAudioContainer(const std::string& path, TFormatPtr& format,
                       std::string_view demuxer = {});

// The tag texts of a container as FFmpeg names them, UTF-8, empty where absent.
struct TMediaTags {
    std::string Title, Artist, Album, Date, Genre, Track, Comment;
    TReleaseTexts Release;
    bool Any() const;
};

class TMediaFile {
public:
    enum class TLoad {
        Ok,
        CannotRead, // missing, unreadable, not a regular file
        NotAudio,   // no allowed demuxer takes it, or it holds no audio stream to decode
    };

    // Reads the first audio stream's facts and the container's tags; demuxer as for
    // OpenAudioContainer.
    TLoad Load(const std::string& path, std::string_view demuxer = {});

    // The codec as the list shows it ("AAC", "ALAC", "Opus", "AIFF", "DSD", ...).
    const std::string& TypeName() const { return typeName_; }
    double Duration() const { return duration_; } // seconds; 0 when unknown
    int64_t FileSize() const { return fileSize_; }
    int64_t BitRate() const { return bitRate_; } // bits per second
    int SampleRate() const { return sampleRate_; }
    int Channels() const { return channels_; }
    const TMediaTags& Tags() const { return tags_; }

    // The picture the container holds as its front cover (an MP4 "covr" item, an ID3v2
    // APIC of an AIFF, DSF or TTA file, a Matroska cover attachment, ...); the first picture
    // when none says it is the front cover. No value when it holds none or cannot be read.
    static std::optional<TCoverArt> FrontCover(const std::string& path);

private:
    std::string typeName_;
    double duration_ = 0;
    int64_t fileSize_ = 0;
    int64_t bitRate_ = 0;
    int sampleRate_ = 0;
    int channels_ = 0;
    TMediaTags tags_;
};

} // namespace bw
