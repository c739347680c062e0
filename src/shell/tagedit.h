#pragma once

#include "core/jobitem.h"

#include <optional>
#include <string>
#include <string_view>

namespace bw {

class TGenreList;
struct TNamePattern;

// The editor's year field holds at most this many characters.
inline constexpr int kYearMaxLength = 10;

// The tag fields, in the order the editor applies them.
enum class TTagField { Title, Artist, Album, Genre, Year, Track, Comment };

// "Title", "artist", ...: the field a name means, ignoring letter case.
std::optional<TTagField> TagFieldFromName(std::string_view name);

// Stores one field's text in a job item, as the tag editor's OK does; the output is tagged
// from the item when it is converted, and the source file is never written. A genre takes
// the list's spelling and index when the list has it, otherwise the text as given with
// 255. The track is a decimal integer of which the low 8 bits are kept; anything else
// leaves the item as it was and returns false with the conversion error in *error.
bool ApplyTagEdit(TmyMusicFile& item, TTagField field, std::string_view text,
                  std::string* error = nullptr);

// The texts of the editor's seven fields.
struct TTagFormTexts {
    std::string Title, Artist, Album, Genre, Year, Track, Comment;
};

// What the editor shows for an item; Genre is empty when the list lacks the item's genre.
TTagFormTexts TagFormTextsOf(const TmyMusicFile& item);

// A text as the editor's field for it holds it by the time OK reads it: a year cut to
// kYearMaxLength characters, a track number as TrackTextOnLeave leaves it. Edits that do
// not come through the window (the command line) go through this first, so that they
// store what the editor would.
std::string FieldTextAsEdited(TTagField field, std::string_view text);

// The editor's OK: every field in order. A bad track number stops it there, with the fields
// before it already applied.
bool ApplyTagForm(const TTagFormTexts& texts, TmyMusicFile& item, std::string* error = nullptr);

// A CD track's new name from its tags and the pattern; other items keep theirs.
void RenameTrackItem(TmyMusicFile& item, const TNamePattern& pattern);

// The editor's file information texts.
struct TFileInfoTexts {
    std::string FileType, Length, FileSize, SampleRate, Channels, BitRate;
};
TFileInfoTexts FileInfoTextsOf(const TmyMusicFile& item);

// The track field: the characters it takes as typed (digits and backspace), and its text
// once the focus leaves it (a number of digits above 255 becomes "255").
bool TrackCharAccepted(char32_t c);
std::string TrackTextOnLeave(std::string_view text);

} // namespace bw
