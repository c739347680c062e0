#include "shell/tagedit.h"

#include "common/asciicase.h"
#include "core/genrelist.h"
#include "shell/joblist.h"
#include "shell/naming.h"
#include "tags/textcodec.h"

#include <algorithm>
#include <array>
#include <charconv>

namespace bw {

namespace {

constexpr std::array<std::string_view, 7> kFieldNames{"Title", "Artist", "Album", "Genre",
                                                      "Year", "Track", "Comment"};
constexpr int kTrackMax = 255;

// A decimal integer with an optional sign, nothing else around it.
std::optional<long long> ParseInteger(std::string_view text) {
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    long long v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return v;
}

} // namespace

std::optional<TTagField> TagFieldFromName(std::string_view name) {
    for (size_t i = 0; i < kFieldNames.size(); ++i)
        if (EqualsIgnoringAsciiCase(name, kFieldNames[i]))
            return static_cast<TTagField>(i);
    return std::nullopt;
}

bool ApplyTagEdit(TmyMusicFile& item, TTagField field, std::string_view text, std::string* error) {
    switch (field) {
    case TTagField::Title: item.Title = text; break;
    case TTagField::Artist: item.Artist = text; break;
    case TTagField::Album: item.Album = text; break;
    case TTagField::Year: item.Year = text; break;
    case TTagField::Comment: item.Comment = text; break;
    case TTagField::Genre: {
        const TGenreList& genres = GenreList();
        const int index = genres.IndexOf(text);
        // -1 (no such genre) held in the genre byte reads 255.
        item.GenreIndex = static_cast<uint8_t>(index);
        item.Genre = index >= 0 ? genres.Name(index) : std::string(text);
        break;
    }
    case TTagField::Track: {
        const auto v = ParseInteger(text);
        if (!v) {
            if (error)
                *error = "'" + std::string(text) + "' is not a valid integer value";
            return false;
        }
        item.Track = static_cast<uint8_t>(*v & 0xFF);
        break;
    }
    }
    return true;
}

TTagFormTexts TagFormTextsOf(const TmyMusicFile& item) {
    const TGenreList& genres = GenreList();
    const int genre = genres.IndexOf(item.Genre);
    return {item.Title, item.Artist, item.Album, genre >= 0 ? genres.Name(genre) : std::string(),
            item.Year, std::to_string(item.Track), item.Comment};
}

bool ApplyTagForm(const TTagFormTexts& t, TmyMusicFile& item, std::string* error) {
    const std::array<std::pair<TTagField, const std::string*>, 7> fields{{
        {TTagField::Title, &t.Title},
        {TTagField::Artist, &t.Artist},
        {TTagField::Album, &t.Album},
        {TTagField::Genre, &t.Genre},
        {TTagField::Year, &t.Year},
        {TTagField::Track, &t.Track},
        {TTagField::Comment, &t.Comment},
    }};
    for (const auto& [field, text] : fields)
        if (!ApplyTagEdit(item, field, *text, error))
            return false;
    return true;
}

void RenameTrackItem(TmyMusicFile& item, const TNamePattern& pattern) {
    if (item.SourceType != TSourceType::CdTrack)
        return;
    item.SourcePath = SafeTrackFileName(
        {item.Title, item.Artist, item.Year, item.Genre, item.Album, item.Track}, pattern);
}

TFileInfoTexts FileInfoTextsOf(const TmyMusicFile& item) {
    return {item.TypeName,
            FormatDuration(item.DurationMs),
            FormatFileSize(item.FileSize),
            std::to_string(item.SampleRate) + " Hz",
            item.ChannelMode,
            std::to_string(item.Bitrate / 1000) + " kbit"};
}

bool TrackCharAccepted(char32_t c) { return (c >= U'0' && c <= U'9') || c == U'\b'; }

std::string TrackTextOnLeave(std::string_view text) {
    if (text.empty())
        return {};
    const auto v = ParseInteger(text);
    // Digits too many for any integer are above 255 all the same.
    const bool digitsOnly = std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    if ((v && *v > kTrackMax) || (!v && digitsOnly))
        return std::to_string(kTrackMax);
    return std::string(text);
}

std::string FieldTextAsEdited(TTagField field, std::string_view text) {
    switch (field) {
    case TTagField::Year: return Utf8Left(text, kYearMaxLength);
    case TTagField::Track: return TrackTextOnLeave(text);
    default: return std::string(text);
    }
}

} // namespace bw
