#pragma once

#include "core/jobitem.h"

#include <array>
#include <string>
#include <string_view>

namespace bw {

// The release fields of a job item: the album artist, the disc number and the MusicBrainz
// ids a disc lookup fills and the output tags carry. Every format's table of tag names
// lists them in this order.
inline constexpr size_t kReleaseFieldCount = 8;
enum EReleaseField : size_t {
    kAlbumArtist,
    kDiscNumber,
    kMbAlbumId,
    kMbReleaseGroupId,
    kMbAlbumArtistId,
    kMbArtistId,
    kMbReleaseTrackId,
    kMbTrackId
};
using TReleaseNames = std::array<std::string_view, kReleaseFieldCount>;
using TReleaseTexts = std::array<std::string, kReleaseFieldCount>;

inline constexpr std::array<std::string TmyMusicFile::*, kReleaseFieldCount> kReleaseMembers{
    &TmyMusicFile::AlbumArtist,      &TmyMusicFile::DiscNumber,      &TmyMusicFile::MbAlbumId,
    &TmyMusicFile::MbReleaseGroupId, &TmyMusicFile::MbAlbumArtistId, &TmyMusicFile::MbArtistId,
    &TmyMusicFile::MbReleaseTrackId, &TmyMusicFile::MbTrackId};
// The fields' own names, as the JSON of a job item gives them.
inline constexpr TReleaseNames kReleaseFieldNames{
    "AlbumArtist",     "DiscNumber", "MbAlbumId",        "MbReleaseGroupId",
    "MbAlbumArtistId", "MbArtistId", "MbReleaseTrackId", "MbTrackId"};
// The descriptions the ids have in an ID3v2 TXXX frame and an MP4 freeform item; ID3v2
// keeps the recording's id in a UFID frame instead of its TXXX.
inline constexpr TReleaseNames kMusicBrainzIdNames{"",
                                                   "",
                                                   "MusicBrainz Album Id",
                                                   "MusicBrainz Release Group Id",
                                                   "MusicBrainz Album Artist Id",
                                                   "MusicBrainz Artist Id",
                                                   "MusicBrainz Release Track Id",
                                                   "MusicBrainz Track Id"};

inline TReleaseTexts ReleaseTextsOf(const TmyMusicFile& item) {
    TReleaseTexts texts;
    for (size_t i = 0; i < kReleaseFieldCount; ++i)
        texts[i] = item.*kReleaseMembers[i];
    return texts;
}

inline void SetReleaseTexts(TmyMusicFile& item, const TReleaseTexts& texts) {
    for (size_t i = 0; i < kReleaseFieldCount; ++i)
        item.*kReleaseMembers[i] = texts[i];
}

} // namespace bw
