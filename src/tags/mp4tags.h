#pragma once

// The tags of an MP4 audio file (.m4a): the items of the iTunes list, moov/udta/meta/ilst.
// Each item is an atom named by four bytes ("\251nam", "trkn", "covr") or a freeform one
// ("----") named by a mean and a name; it holds one or more data atoms, each a type and
// its bytes.

#include "core/releasefields.h"
#include "tags/picture.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace bw {

class TTagSource;

// The data atom types the program writes.
inline constexpr uint32_t kMp4Implicit = 0; // binary whose meaning the item gives (trkn)
inline constexpr uint32_t kMp4Utf8 = 1;
inline constexpr uint32_t kMp4Jpeg = 13;
inline constexpr uint32_t kMp4Png = 14;

// The item names of the text tags; the copyright sign is the byte 0xA9 (octal 251) in the
// file.
inline constexpr std::string_view kMp4Title = "\251nam";
inline constexpr std::string_view kMp4Artist = "\251ART";
inline constexpr std::string_view kMp4Album = "\251alb";
inline constexpr std::string_view kMp4Date = "\251day";
inline constexpr std::string_view kMp4Genre = "\251gen";
inline constexpr std::string_view kMp4Comment = "\251cmt";
inline constexpr std::string_view kMp4Track = "trkn";
inline constexpr std::string_view kMp4Cover = "covr";
// A freeform item's key is this, its mean, a colon and its name:
// "----:com.apple.iTunes:REPLAYGAIN_TRACK_GAIN".
inline constexpr std::string_view kMp4Freeform = "----:";
inline constexpr std::string_view kMp4AlbumArtist = "aART";
inline constexpr std::string_view kMp4Disc = "disk";
// The mean of the freeform items that hold the MusicBrainz ids, each named by its
// kMusicBrainzIdNames entry.
inline constexpr std::string_view kMp4ITunesMean = "com.apple.iTunes";

// No tag list is read from a file whose movie header (moov) is larger than this.
inline constexpr uint64_t kMaxMp4MovieBytes = 256ull * 1024 * 1024;

struct TMp4Value {
    uint32_t Type = kMp4Implicit;
    std::vector<std::byte> Data;
};

struct TMp4Item {
    std::string Key;
    std::vector<TMp4Value> Values;
    // An item this reader does not understand, kept as its whole atom and written back as it
    // was; empty for the others.
    std::vector<std::byte> Raw;
};

// The sound track of an MP4 file that holds nothing else, as its sample description and
// headers state it: all the job list shows, without opening a demuxer.
struct TMp4Audio {
    std::string Codec; // "AAC" (AAC-LC) or "ALAC"; empty for any other file
    uint32_t SampleRate = 0;
    uint16_t Channels = 0;
    double Duration = 0;  // seconds, the encoder's priming samples (edit list) left out
    uint32_t BitRate = 0; // the stream's stated average, bits per second; 0 when not stated
};

class TMp4Tags {
public:
    // Reads the item list of an MP4 file. True when the file is an MP4 file whose movie
    // header could be read (it may hold no items); false with LastError otherwise.
    bool Load(TTagSource& source);
    bool Load(const std::string& path);

    const std::vector<TMp4Item>& Items() const { return items_; }
    // The file's sound track, read by Load with the tags.
    const TMp4Audio& Audio() const { return audio_; }
    // The first value of the item as text; empty when there is none.
    std::string Text(std::string_view key) const;
    // Makes the item hold text alone (kept in its place, else added last); an empty text
    // removes it.
    void SetText(std::string_view key, std::string_view text);
    void Remove(std::string_view key);
    // The track number of trkn; 0 when there is none.
    int Track() const;
    // trkn as track of total (0: not given); a track of 0 removes it.
    void SetTrack(int track, int total = 0);
    // disk as disc of total from "n/m" or "n" (0: no total); text not starting with a disc
    // number removes it.
    void SetDisc(std::string_view text);
    // The release fields: aART, disk and the freeform items of the MusicBrainz ids; an
    // empty field removes its item.
    void SetRelease(const TReleaseTexts& release);
    // The release fields of aART, disk ("n/m" or "n") and the MusicBrainz freeform items.
    TReleaseTexts Release() const;
    // The pictures of covr, in their order, each as a front cover (covr has no types).
    std::vector<TCoverArt> Covers() const;
    // Makes the picture covr's only one. False, changing nothing, when it is not JPEG or PNG,
    // the two kinds the format holds.
    bool SetCover(const TCoverArt& cover);

    // The ilst atom of the items, in their order.
    std::vector<std::byte> BuildList() const;
    // Puts the items into the file at path in place of its own list; the audio and every
    // other atom stay as they are (the chunk offsets follow a movie header that grows in
    // front of the audio). fresh: the file was just written by us and need not be forced to
    // the disk. False, with LastError, when the file could not be changed: it is then as it
    // was.
    bool Save(const std::string& path, bool fresh = false);
    const std::string& LastError() const { return error_; }

    // Puts freeform items "----:com.apple.iTunes:<name>" holding the texts into the file's
    // list, in place of freeform items of the same names in any letter case, as Save does.
    static bool WriteFreeform(const std::string& path,
                              std::span<const std::pair<std::string, std::string>> texts,
                              std::string& error, bool fresh);

    // Offers the pictures of an MP4 file's covr item in their order until offer answers
    // true; *why says why the file's tags could not be read (nothing for a file that is no
    // MP4 file).
    static void ReadPictures(TTagSource& source, const TPictureOffer& offer, std::string* why);

private:
    TMp4Item* Find(std::string_view key);
    const TMp4Item* Find(std::string_view key) const;

    std::vector<TMp4Item> items_;
    TMp4Audio audio_;
    std::string error_;
};

} // namespace bw
