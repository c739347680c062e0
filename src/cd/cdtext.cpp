#include "cd/cdtext.h"

#include "cd/cdsystem.h"
#include "common/utf8.h"

#include <cdio/cdio.h>
#include <cdio/cdtext.h>

namespace bw {

bool TCdText::Empty() const {
    if (!Performer.empty() || !Title.empty() || !Genre.empty() || !Year.empty())
        return false;
    for (size_t i = 0; i < TrackTitles.size(); ++i)
        if (!TrackTitles[i].empty() || !TrackPerformers[i].empty())
            return false;
    return true;
}

std::string RepairCdTextEncoding(std::string_view text) {
    std::string bytes;
    bool nonAscii = false;
    for (size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        size_t len = 0;
        if (!DecodeUtf8At(text, i, cp, len) || cp > 0xFF)
            return std::string(text); // not a Latin-1 reading: libcdio's text is right
        nonAscii = nonAscii || cp >= 0x80;
        bytes += static_cast<char>(cp);
        i += len;
    }
    if (!nonAscii)
        return std::string(text);
    for (size_t i = 0; i < bytes.size();) {
        char32_t cp = 0;
        size_t len = 0;
        if (!DecodeUtf8At(bytes, i, cp, len))
            return std::string(text);
        i += len;
    }
    return bytes;
}

bool ReadCdText(TCdDisc& disc, TCdText& out) {
    out = TCdText{};
    CdIo_t* p = disc.Handle();
    const cdtext_t* cdtext = p ? cdio_get_cdtext(p) : nullptr;
    if (!cdtext)
        return false;
    const auto get = [cdtext](cdtext_field_t field, track_t track) {
        const char* s = cdtext_get_const(cdtext, field, track);
        return s ? RepairCdTextEncoding(s) : std::string();
    };
    out.Performer = get(CDTEXT_FIELD_PERFORMER, 0);
    out.Title = get(CDTEXT_FIELD_TITLE, 0);
    out.Genre = get(CDTEXT_FIELD_GENRE, 0);
    const track_t first = cdio_get_first_track_num(p);
    const track_t count = cdio_get_num_tracks(p);
    if (first != CDIO_INVALID_TRACK && count != CDIO_INVALID_TRACK) {
        for (int i = 0; i < count && i < static_cast<int>(out.TrackTitles.size()); ++i) {
            const auto t = static_cast<track_t>(first + i);
            out.TrackTitles[static_cast<size_t>(i)] = get(CDTEXT_FIELD_TITLE, t);
            out.TrackPerformers[static_cast<size_t>(i)] = get(CDTEXT_FIELD_PERFORMER, t);
        }
    }
    return !out.Empty();
}

} // namespace bw
