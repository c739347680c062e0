#pragma once

// The ID3v2 tag at the start of a file: versions 2.2, 2.3 and 2.4 are read, 2.3 is written.
// Texts are UTF-8 here; frames hold ISO-8859-1, UTF-16 or UTF-8 and are converted at the edge.

#include "core/releasefields.h"
#include "tags/picture.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bw {

class TTagSource;

class TID3v2 {
public:
    static constexpr size_t kHeaderSize = 10;
    static constexpr size_t kFrameBuffer = 500; // the part of a frame that is looked at
    static constexpr int32_t kPaddedSize = 4096; // a rebuilt tag is padded to this size
    static constexpr int kSlotCount = 16;

    TID3v2() { Clear(); }

    void Clear();
    // True when the file's first 10 bytes could be read, tag or not (see Present).
    bool Load(const std::string& path);
    bool Load(TTagSource& source);
    // Puts a new version 2.3 tag built from the fields at the start of the file, in place
    // when it fits the old tag exactly, else by rebuilding the file beside the old one.
    bool Save(const std::string& path);
    // The tag Save writes when padded to totalSize bytes (no padding when totalSize is
    // smaller than the frames need); empty when the frames do not fit a tag's size field.
    std::vector<std::byte> BuildTag(int64_t totalSize) const;
    // Size of the tag without padding: header and frames.
    int64_t NeededSize() const;

    bool Present() const { return present_; }
    uint8_t VersionID() const { return versionId_; }
    int32_t Size() const { return size_; }
    const std::string& Title() const { return title_; }
    const std::string& Artist() const { return artist_; }
    const std::string& Album() const { return album_; }
    uint16_t Track() const { return track_; }
    const std::string& TrackText() const { return trackText_; }
    const std::string& Year() const { return year_; }
    const std::string& Genre() const { return genre_; }
    const std::string& Comment() const { return comment_; }
    const std::string& Composer() const { return composer_; }
    const std::string& Encoder() const { return encoder_; }
    const std::string& Copyright() const { return copyright_; }
    const std::string& Language() const { return language_; }
    const std::string& Link() const { return link_; }
    const std::string& LastError() const { return error_; }

    void SetTitle(std::string_view v);
    void SetArtist(std::string_view v);
    void SetAlbum(std::string_view v);
    void SetTrack(uint16_t v) { track_ = v; }
    void SetYear(std::string_view v);
    void SetGenre(std::string_view v);
    void SetComment(std::string_view v);
    // Written only: the recording's ISRC (TSRC) and the disc's barcode (TXXX "BARCODE").
    void SetIsrc(std::string_view v);
    void SetBarcode(std::string_view v);
    // The release fields: the album artist (TPE2), the disc number (TPOS), the MusicBrainz
    // ids in TXXX frames described by their names (kMusicBrainzIdNames) and the recording's
    // id as the UFID frame of the owner kMusicBrainzOwner.
    const TReleaseTexts& Release() const { return release_; }
    void SetRelease(const TReleaseTexts& v);
    static constexpr std::string_view kMusicBrainzOwner = "http://musicbrainz.org";
    // A picture (APIC frame) written after the texts; Load and Clear drop it, so set it after
    // loading. Load does not read pictures back: ReadPictures does.
    void SetPicture(const TCoverArt& cover) { picture_ = cover; }
    void ClearPicture() { picture_.reset(); }
    // The bytes of the APIC frame (header included) SetPicture adds to the tag.
    static uint64_t PictureFrameSize(const TCoverArt& cover);
    // Offers the pictures of the tag at the start of source (2.2 PIC, 2.3 and 2.4 APIC
    // frames) in their order until offer answers true. The whole tag is read into memory, so
    // a picture of any size within kMaxCoverBytes is found. *why says why a tag or picture
    // could not be read.
    static void ReadPictures(TTagSource& source, const TPictureOffer& offer, std::string* why);
    // Adds TXXX frames of the given descriptions and values to the tag at the start of the
    // file (a new 2.3 tag when it has none), in place of TXXX frames of the same
    // descriptions in any letter case; every other frame stays as it is. The tag keeps its
    // size where the frames fit its padding; the file is rebuilt under a temporary name
    // (fresh: it was just written by us and need not be forced to the disk). False, with
    // error, when the tag is of a kind this cannot edit (2.2, unsynchronised, an extended
    // header) or the file cannot be written: it is then as it was.
    static bool WriteUserTexts(const std::string& path,
                               std::span<const std::pair<std::string, std::string>> texts,
                               std::string& error, bool fresh);

private:
    using TSlots = std::array<std::vector<std::byte>, kSlotCount>;
    void ReadFrames(TTagSource& source, uint8_t flags, TSlots& slots);
    void DecodeSlots(const TSlots& slots);

    bool present_;
    uint8_t versionId_;
    int32_t size_;
    std::string title_, artist_, album_;
    uint16_t track_;
    std::string trackText_, year_, genre_, comment_;
    std::string composer_, encoder_, copyright_, language_, link_;
    std::string isrc_, barcode_;
    TReleaseTexts release_;
    std::optional<TCoverArt> picture_;
    std::string error_;
};

} // namespace bw
