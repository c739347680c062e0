#pragma once

#include "core/releasefields.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace bw {

// The fields of a Vorbis comment that the job list shows.
struct TVorbisFields {
    std::string Title, Artist, Performer, Album, TrackText, Date, Genre, Comment, Description;
    TReleaseTexts Release; // under the names of kVorbisReleaseNames
};

// The comment names of the release fields, in their order; APE tags name the ids the same.
inline constexpr TReleaseNames kVorbisReleaseNames{"ALBUMARTIST",
                                                   "DISCNUMBER",
                                                   "MUSICBRAINZ_ALBUMID",
                                                   "MUSICBRAINZ_RELEASEGROUPID",
                                                   "MUSICBRAINZ_ALBUMARTISTID",
                                                   "MUSICBRAINZ_ARTISTID",
                                                   "MUSICBRAINZ_RELEASETRACKID",
                                                   "MUSICBRAINZ_TRACKID"};

// Sequential access to a comment block's bytes (a FLAC block, or an Ogg packet spread over
// pages). Read returns fewer bytes than asked only at the end or on an error.
class TByteStream {
public:
    virtual ~TByteStream() = default;
    virtual bool Read(size_t n, std::string& out) = 0;
    virtual bool Skip(uint64_t n) = 0;
};

// Walks a Vorbis comment (vendor string, count, then the comments): take is given each
// comment's length with the stream positioned at the comment, reads or skips exactly that
// many bytes and answers false to stop. False when the vendor string, the count or a length
// cannot be read.
bool WalkVorbisComment(TByteStream& in, const std::function<bool(TByteStream&, uint32_t)>& take);

enum class TCommentRule { FirstWins, LastWins };

// Reads a Vorbis comment (vendor string, count, "NAME=value" strings). Of each string only
// the first maxKept bytes are looked at, the rest is skipped, so a cover picture stored as a
// comment costs no memory. Values are trimmed and taken as UTF-8 (Latin-1 when they are not).
bool ReadVorbisComment(TByteStream& in, TVorbisFields& fields, TCommentRule rule, size_t maxKept);

// A whole Vorbis comment (vendor string, count, "NAME=value" strings, as a FLAC block or an
// Ogg packet after its magic) with items put in: every comment named as one of them (in any
// letter case) goes, and the items follow the others in their order. Nothing when body is
// not a whole Vorbis comment; bytes after it (Vorbis's framing bit) stay behind it.
std::optional<std::string>
ReplaceVorbisComments(std::string_view body,
                      std::span<const std::pair<std::string, std::string>> items);

} // namespace bw
