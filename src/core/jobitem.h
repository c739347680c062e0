#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace bw {

// Source type codes; the order is fixed (stored and compared as numbers).
enum class TSourceType : uint8_t {
    Mpeg = 0,
    Ogg = 1,
    Wav = 2,
    Wma = 3,
    Flac = 4,
    Ape = 5,
    Mpc = 6,
    WavPack = 7,
    CdaFile = 8,
    CdTrack = 9,
    // Any other audio file FFmpeg's demuxers read (MP4/M4A, Opus, AIFF, TTA, DSD, ...); the
    // item's TypeName names its codec.
    Other = 10,
};

// One source file or CD track of the job list, with what its probe found.
struct TmyMusicFile {
    std::string SourcePath; // full path; for a CD track, its display name
    std::string TargetPath; // set by the conversion run
    // The folder the item was added with (Add Folder with its sub-folders, a folder dropped
    // or named), without a trailing separator; empty for a file added on its own. Outputs
    // that keep the folder structure start with its name.
    std::string AddedFrom;
    int32_t DurationMs = 0;
    int64_t FileSize = 0; // 64-bit: recordings of several gigabytes exist
    int32_t Bitrate = 0; // bits per second
    int32_t SampleRate = 0;
    std::string ChannelMode;
    uint8_t Channels = 0;
    std::string Title;
    std::string Artist;
    std::string Album;
    uint8_t GenreIndex = 12; // "Other" when the source names none; 255 for an unknown text
    std::string Genre;
    std::string Year;
    std::string Comment;
    uint8_t Track = 0;
    std::string Isrc;    // the recording's code, from a CD track
    std::string Barcode; // the disc's catalogue number (MCN), from a CD track
    std::string AlbumArtist;      // the release's artist, where it differs from a track's
    std::string DiscNumber;       // "n/m" in a set of m discs, or "n" alone
    std::string MbAlbumId;        // MusicBrainz release id
    std::string MbReleaseGroupId; // MusicBrainz release group id
    std::string MbAlbumArtistId;  // MusicBrainz artist id of the release's artist
    std::string MbArtistId;       // MusicBrainz artist id of the track's artist
    std::string MbReleaseTrackId; // MusicBrainz id of the track on the release
    std::string MbTrackId;        // MusicBrainz recording id
    bool HasTag = false;
    bool HasId3v2 = false;
    bool IsVbr = false;
    TSourceType SourceType = TSourceType::Mpeg;
    std::string TypeName;
    uint8_t CdDrive = 0;
    int32_t TableIndex = -1;
    // A CD track's rip, as read from the disc: the AccurateRip checksums (v1 and v2), the
    // CRC-32 of its PCM and its largest absolute sample (0..32768), set once the whole track
    // was read in one pass (RipChecked); and how the AccurateRip database judged it: one of
    // "Accurate (confidence N)", "Not accurate", "Not in database" or "Not verified" (the
    // database could not be asked or its answer was unusable), empty when it was not asked.
    bool RipChecked = false;
    uint32_t CrcV1 = 0;
    uint32_t CrcV2 = 0;
    uint32_t CopyCrc = 0;
    int32_t Peak = 0;
    std::string AccurateRip;
    int32_t Confidence = 0; // of an "Accurate" result; 0 otherwise
    // A front cover fetched for the item (a CD track's release cover), carried into the
    // output instead of one the source holds; shared by the tracks of one disc.
    std::shared_ptr<const std::vector<std::byte>> FetchedCover;
};

} // namespace bw
