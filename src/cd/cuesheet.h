#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

// A cue sheet read as text: its FILE, TRACK and INDEX commands and the texts of the album
// and its tracks. Times are CD frames (75 a second) from the start of the file they are in.
// Parsing is plain text work with no file access, so a sheet's mistakes are found before
// any audio file is opened.

struct TCueFileLine {
    std::string Name;
    std::string Type; // upper case as written ("WAVE", "FLAC", "BINARY", ...); may be empty
    int Line = 0;
};

struct TCueIndex {
    int Number = 0;
    size_t File = 0;   // into TCueSheet::Files
    int64_t Frame = 0; // from the start of that file
    int Line = 0;
};

struct TCueTrackEntry {
    int Number = 0;
    int Line = 0; // the TRACK line
    std::string Title;
    std::string Performer;
    std::string Isrc; // ISRC
    std::vector<TCueIndex> Indexes;
    // INDEX 01, where the track starts; every parsed track has one.
    const TCueIndex& Start() const;
};

struct TCueSheet {
    std::string Title;
    std::string Performer;
    std::string Date;  // REM DATE
    std::string Genre; // REM GENRE
    std::string Catalog; // CATALOG: the disc's catalogue number
    std::vector<TCueFileLine> Files;
    std::vector<TCueTrackEntry> Tracks;
    int LineCount = 0;
};

// The text of a sheet in UTF-8: a UTF-16 sheet is known by its byte-order mark; a UTF-8
// byte-order mark is dropped; anything that is not valid UTF-8 is read as ISO-8859-1.
std::string DecodeCueText(std::span<const std::byte> bytes);

// Reads a decoded sheet. False with "line N: what is wrong" in *why for a sheet that cannot
// describe an album: a TRACK before any FILE, an INDEX outside a track, a time that is not
// mm:ss:ff, tracks whose numbers or starts go backwards, a track without INDEX 01 or one
// that is not audio, and a sheet without any TRACK.
bool ParseCueSheet(std::string_view text, TCueSheet& out, std::string* why);

// The words of one sheet line: a double-quoted word keeps its spaces (an unclosed quote
// runs to the end of the line).
std::vector<std::string> SplitCueLine(std::string_view line);

// The FILE lines of a decoded sheet, as they stand, without checking anything else.
std::vector<TCueFileLine> CueFileLines(std::string_view text);

// "mm:ss:ff" as CD frames; -1 when it is not a time (seconds past 59, frames past 74).
int64_t ParseCueTime(std::string_view text);

} // namespace bw
