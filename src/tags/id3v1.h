#pragma once

// The 128-byte ID3v1 record (revisions 1.0 and 1.1) at the end of a file, with the
// Lyrics3 v2.00 block that may stand in front of it. Texts are UTF-8 here and ISO-8859-1
// in the file; a character ISO-8859-1 cannot hold is written as '?'.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace bw {

class TFileSource;
class TTagSource;

class TID3v1 {
public:
    static constexpr int kRecordSize = 128;
    static constexpr int kLyricsTrailerSize = 15; // 6 size digits and "LYRICS200"
    static constexpr int kFieldSize = 30;

    TID3v1() { Clear(); }

    void Clear();
    // Reads both blocks; false when the file cannot be read or is shorter than 128 bytes.
    bool Load(const std::string& path);
    bool Load(TTagSource& source);
    // Replaces the blocks at the end of the file with the object's fields; true when the
    // file then holds them (Present becomes true). A failed write leaves the file as it was.
    bool Save(const std::string& path);
    // Removes the ID3v1 record and the Lyrics3 block from the file.
    bool Strip(const std::string& path);

    // The two workers: detect (and with parse, read) the blocks; append the blocks to the
    // end of the file, always (Save strips first, so the file keeps one tag).
    bool ReadBlocks(TTagSource& source, bool parse);
    bool AppendBlocks(const std::string& path, bool withLyrics);
    // The bytes AppendBlocks writes: the Lyrics3 block when due, then the 128-byte record.
    std::string BuildBlocks(bool withLyrics) const;

    bool Present() const { return present_; }
    uint8_t Revision() const { return revision_; }
    std::string Title() const { return extTitle_.empty() ? title_ : extTitle_; }
    std::string Artist() const { return extArtist_.empty() ? artist_ : extArtist_; }
    std::string Album() const { return extAlbum_.empty() ? album_ : extAlbum_; }
    std::string Comment() const { return extComment_.empty() ? comment_ : extComment_; }
    const std::string& Year() const { return year_; }
    uint8_t Track() const { return track_; }
    uint8_t GenreIndex() const { return genreIndex_; }
    bool LyricsPresent() const { return lyricsPresent_; }
    int32_t LyricsSize() const { return lyricsSize_; }
    const std::string& ExtTitle() const { return extTitle_; }
    const std::string& ExtArtist() const { return extArtist_; }
    const std::string& ExtAlbum() const { return extAlbum_; }
    const std::string& ExtComment() const { return extComment_; }
    const std::string& Author() const { return author_; }
    const std::string& Lyrics() const { return lyrics_; }
    const std::string& Image() const { return image_; }
    int32_t LyricsBlockSize() const { return lyricsSize_ > 0 ? lyricsSize_ + kLyricsTrailerSize : 0; }
    int32_t TotalSize() const { return LyricsBlockSize() + (present_ ? kRecordSize : 0); }
    const std::string& LastError() const { return error_; }

    void SetTitle(std::string_view v) { SetPair(v, title_, extTitle_); }
    void SetArtist(std::string_view v) { SetPair(v, artist_, extArtist_); }
    void SetAlbum(std::string_view v) { SetPair(v, album_, extAlbum_); }
    void SetComment(std::string_view v) { SetPair(v, comment_, extComment_); }
    void SetYear(std::string_view v);
    void SetTrack(uint8_t v) { track_ = v; }
    void SetGenreIndex(uint8_t v) { genreIndex_ = v; }
    void SetAuthor(std::string_view v) { author_ = v; }
    void SetLyrics(std::string_view v) { lyrics_ = v; }
    void SetImage(std::string_view v) { image_ = v; }

private:
    static void SetPair(std::string_view value, std::string& plain, std::string& extended);
    void ReadRecord(std::span<const std::byte> record);
    void ReadLyricsFields(std::span<const std::byte> fields);
    // Opens the file and finds the sizes of the blocks now at its end.
    bool FindBlocks(const std::string& path, TFileSource& source);
    void NoteLyricsWritten(size_t blocksSize);

    bool present_;
    uint8_t revision_;
    std::string title_, artist_, album_, comment_, year_;
    uint8_t track_;
    uint8_t genreIndex_;
    bool lyricsPresent_;
    int32_t lyricsSize_;
    std::string extTitle_, extArtist_, extAlbum_, extComment_;
    std::string author_, lyrics_, image_;
    std::string error_;
};

} // namespace bw
