#pragma once

#include <array>
#include <string>
#include <string_view>

namespace bw {

class TCdDisc;

// The CD-TEXT of a disc or of an image's cue sheet: the disc's texts and each track's,
// in UTF-8. Tracks are indexed from 0 (the disc's first track).
struct TCdText {
    std::string Performer;
    std::string Title;
    std::string Genre;
    std::string Year; // an album image's REM DATE; CD-TEXT has none
    std::array<std::string, 100> TrackTitles;
    std::array<std::string, 100> TrackPerformers;

    bool Empty() const;
};

// Reads the first language block of the disc's CD-TEXT; false when there is none.
bool ReadCdText(TCdDisc& disc, TCdText& text);

// A text as libcdio hands it over, made right: libcdio takes cue-sheet texts as ISO-8859-1
// and converts them to UTF-8, so a sheet written in UTF-8 comes out encoded twice. When the
// text maps back to ISO-8859-1 bytes that form valid UTF-8 with at least one non-ASCII
// character, those bytes are the text.
std::string RepairCdTextEncoding(std::string_view libcdioText);

} // namespace bw
