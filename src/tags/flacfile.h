#pragma once

#include "core/releasefields.h"
#include "tags/id3v2.h"
#include "tags/picture.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace bw {

class TTagSource;

// A FLAC metadata block's length is 24 bits: a PICTURE block (32 bytes of fixed fields, the
// MIME type, the description and the data) must fit in it.
inline constexpr uint32_t kMaxFlacBlockBytes = 0xFFFFFF;

// The FLAC PICTURE block body (also the decoded METADATA_BLOCK_PICTURE comment value).
std::vector<std::byte> BuildPictureBlock(const TCoverArt& cover);
// The bytes BuildPictureBlock gives.
uint64_t PictureBlockSize(const TCoverArt& cover);
std::optional<TCoverArt> ParsePictureBlock(std::span<const std::byte> block, std::string* why);

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
    // The release fields of the comment.
    const TReleaseTexts& Release() const { return release_; }

    bool Valid() const;
    double Duration() const;

    // Offers the PICTURE blocks of the stream whose "fLaC" stands at streamStart, in their
    // order, until offer answers true; *why says why one could not be read.
    static void ReadPictures(TTagSource& source, uint64_t streamStart, const TPictureOffer& offer,
                             std::string* why);
    // Puts the picture into the file as a PICTURE block in front of the padding (or last),
    // in place of any picture of its type; every other block and the audio stay as they
    // are. The picture must fit a block (kMaxFlacBlockBytes). fresh: the file was just
    // written by us and need not be forced to the disk. False, with error, when the file
    // could not be changed: it is then as it was.
    static bool WritePicture(const std::string& path, const TCoverArt& cover, bool fresh,
                             std::string& error);

    // Puts the items into the file's Vorbis comment (one is added after the stream
    // information when there is none) in place of comments of the same names; every other
    // comment, block and the audio stay as they are. The file is rebuilt under a temporary
    // name (fresh as for WritePicture). False, with error, when it could not be changed: it
    // is then as it was.
    static bool WriteComments(const std::string& path,
                              std::span<const std::pair<std::string, std::string>> items,
                              std::string& error, bool fresh);

private:
    void ReadComment(TTagSource& source, uint64_t pos, uint32_t length);

    bool signature_;
    int64_t fileSize_;
    int channels_;
    int32_t sampleRate_;
    int bitsPerSample_;
    int64_t samples_;
    int64_t audioOffset_;
    TID3v2 id3v2_;
    std::string trackText_, title_, artist_, album_, date_, genre_, comment_;
    TReleaseTexts release_;
};

} // namespace bw
