#pragma once

#include "core/releasefields.h"
#include "tags/id3v2.h"
#include "tags/picture.h"

#include <cstdint>
#include <span>
#include <string>
#include <utility>

namespace bw {

class TTagSource;

// Longest METADATA_BLOCK_PICTURE value looked at: the base64 of the largest picture read.
inline constexpr uint64_t kMaxPictureComment = (uint64_t{kMaxCoverBytes} + 1024) / 3 * 4 + 8;

// The bytes of the METADATA_BLOCK_PICTURE comment (name and base64 value) holding the picture.
uint64_t PictureCommentSize(const TCoverArt& cover);
// Offers the METADATA_BLOCK_PICTURE comments of the Ogg Vorbis or Opus stream whose first
// page starts at streamStart, in their order, until offer answers true; *why says why one
// could not be read.
void ReadOggPictures(TTagSource& source, uint64_t streamStart, const TPictureOffer& offer,
                     std::string* why);
// The longest Ogg page: its header, a full segment table and 255 segments of 255 bytes.
inline constexpr size_t kMaxOggPage = 27 + 255 + 255 * 255;
// The granule position of the last whole page of an Ogg file (for Vorbis and Opus, the
// stream's length in samples) that starts within maxTail bytes of its end; -1 when none does.
int64_t LastOggGranule(TTagSource& source, size_t maxTail);

// Puts the picture into an Ogg Vorbis file as a METADATA_BLOCK_PICTURE comment in place of
// any picture of its type, every other comment kept. False, with error, when the file could
// not be changed: it is then as it was.
bool WriteOggPicture(const std::string& path, const TCoverArt& cover, std::string& error);
// Puts the items into an Ogg Vorbis file's comment in place of comments of the same names (in
// any letter case), every other comment kept; as WriteOggPicture.
bool WriteOggComments(const std::string& path,
                      std::span<const std::pair<std::string, std::string>> items,
                      std::string& error);
// The same for an Ogg Opus file's OpusTags, written here: the comment pages are made anew,
// and the audio pages after them are copied, renumbered when their count changes. The file
// is rebuilt under a temporary name (fresh as for TFLACfile::WritePicture).
bool WriteOpusComments(const std::string& path,
                       std::span<const std::pair<std::string, std::string>> items,
                       std::string& error, bool fresh);

// Stream information and comment of an Ogg Vorbis file.
class TOggVorbis {
public:
    TOggVorbis() { Clear(); }
    void Clear();
    // False when the file cannot be read or does not start with a Vorbis stream.
    bool Load(const std::string& path);
    bool Load(TTagSource& source);

    int64_t FileSize() const { return fileSize_; }
    uint8_t Channels() const { return channels_; }
    int32_t SampleRate() const { return sampleRate_; }
    uint16_t NominalBitRate() const { return nominalBitRate_; } // kbit/s
    int64_t Samples() const { return samples_; }
    int64_t ID3v2Size() const { return id3v2Size_; }
    const std::string& Title() const { return title_; }
    const std::string& Artist() const { return artist_; }
    const std::string& Album() const { return album_; }
    uint8_t Track() const { return track_; }
    const std::string& Date() const { return date_; }
    const std::string& Genre() const { return genre_; }
    const std::string& Comment() const { return comment_; }
    // The release fields of the comment.
    const TReleaseTexts& Release() const { return release_; }

    double Duration() const;
    uint16_t BitRate() const; // kbit/s
    bool Valid() const;
    // Every check of Valid() but the channel count's (mono or stereo there): the probe also
    // takes surround files, which the conversion downmixes.
    bool HeaderValid() const;
    std::string ChannelModeText() const;

private:
    bool ReadComment(TTagSource& source, uint64_t pageStart);
    void ReadSamples(TTagSource& source);

    int64_t fileSize_;
    uint8_t channels_;
    int32_t sampleRate_;
    uint16_t nominalBitRate_;
    int64_t samples_;
    int64_t id3v2Size_;
    std::string title_, artist_, album_, date_, genre_, comment_;
    uint8_t track_;
    TReleaseTexts release_;
};

} // namespace bw
