#include "cd/cuesheet.h"

#include "common/asciicase.h"
#include "common/controlchars.h"
#include "tags/textcodec.h"

#include <charconv>
#include <cstdio>

namespace bw {

namespace {

bool Fail(std::string* why, int line, const std::string& text) {
    if (why)
        *why = "line " + std::to_string(line) + ": " + text;
    return false;
}

// A whole unsigned decimal number; -1 when it is not one.
int64_t Number(std::string_view text) {
    int64_t n = -1;
    const auto [end, err] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (err != std::errc() || end != text.data() + text.size() || text.empty() || text[0] == '-' ||
        text[0] == '+')
        return -1;
    return n;
}

// The rest of a line after its first count words, as one text: TITLE Some words "without
// quotes" is taken whole, quotes or not.
std::string Value(const std::vector<std::string>& words, size_t from) {
    std::string v;
    for (size_t i = from; i < words.size(); ++i) {
        if (i > from)
            v += ' ';
        v += words[i];
    }
    return v;
}

std::string TimeText(int64_t frames) {
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(frames / 4500),
                  static_cast<long long>(frames / 75 % 60), static_cast<long long>(frames % 75));
    return text;
}

// A FILE line's file and type: FILE "name" TYPE, or FILE name TYPE without quotes (the
// name then runs to the last word).
bool FileLine(const std::vector<std::string>& words, int lineNo, TCueFileLine& out) {
    if (words.size() < 2 || AsciiUpper(words[0]) != "FILE")
        return false;
    out.Line = lineNo;
    if (words.size() == 2) {
        out.Name = words[1];
        out.Type.clear();
    } else {
        out.Name = words[1];
        for (size_t i = 2; i + 1 < words.size(); ++i)
            out.Name += " " + words[i];
        out.Type = AsciiUpper(words.back());
    }
    return !out.Name.empty();
}

// Calls each(lineNo, line) for every line, without its line end.
template <typename F> int ForEachLine(std::string_view text, F each) {
    int lineNo = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (!each(lineNo, line))
            break;
    }
    return lineNo;
}

} // namespace

std::vector<TCueFileLine> CueFileLines(std::string_view text) {
    std::vector<TCueFileLine> files;
    ForEachLine(text, [&files](int lineNo, std::string_view line) {
        TCueFileLine f;
        if (FileLine(SplitCueLine(line), lineNo, f))
            files.push_back(std::move(f));
        return true;
    });
    return files;
}

const TCueIndex& TCueTrackEntry::Start() const {
    for (const TCueIndex& i : Indexes)
        if (i.Number == 1)
            return i;
    return Indexes.at(0);
}

std::string DecodeCueText(std::span<const std::byte> bytes) {
    const auto at = [&bytes](size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE)
        return Utf16ToUtf8(bytes.subspan(2), false);
    if (bytes.size() >= 2 && at(0) == 0xFE && at(1) == 0xFF)
        return Utf16ToUtf8(bytes.subspan(2), true);
    if (bytes.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF)
        bytes = bytes.subspan(3);
    return Utf8OrLatin1(AsText(bytes));
}

std::vector<std::string> SplitCueLine(std::string_view line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t') {
            ++i;
            continue;
        }
        if (c == '"') {
            const size_t close = line.find('"', i + 1);
            const size_t end = close == std::string_view::npos ? line.size() : close;
            words.emplace_back(line.substr(i + 1, end - i - 1));
            i = end + 1;
            continue;
        }
        size_t end = line.find_first_of(" \t", i);
        if (end == std::string_view::npos)
            end = line.size();
        words.emplace_back(line.substr(i, end - i));
        i = end;
    }
    return words;
}

int64_t ParseCueTime(std::string_view text) {
    const size_t a = text.find(':');
    const size_t b = a == std::string_view::npos ? a : text.find(':', a + 1);
    if (b == std::string_view::npos)
        return -1;
    const int64_t m = Number(text.substr(0, a));
    const int64_t s = Number(text.substr(a + 1, b - a - 1));
    const int64_t f = Number(text.substr(b + 1));
    // Minutes past 99 occur in sheets of long recordings; a few digits more is no time.
    if (m < 0 || m > 99999 || s < 0 || s > 59 || f < 0 || f > 74)
        return -1;
    return (m * 60 + s) * 75 + f;
}

bool ParseCueSheet(std::string_view text, TCueSheet& out, std::string* why) {
    out = TCueSheet{};
    TCueTrackEntry* track = nullptr;
    const auto finishTrack = [&]() {
        if (!track)
            return true;
        for (const TCueIndex& i : track->Indexes)
            if (i.Number == 1)
                return true;
        return Fail(why, track->Line,
                    "track " + std::to_string(track->Number) + " has no INDEX 01");
    };
    const auto parseLine = [&](int lineNo, std::string_view line) {
        const std::vector<std::string> words = SplitCueLine(line);
        if (words.empty())
            return true;
        const std::string command = AsciiUpper(words[0]);
        TCueFileLine file;
        if (command == "FILE") {
            if (!FileLine(words, lineNo, file))
                return Fail(why, lineNo, "FILE names no file");
            out.Files.push_back(std::move(file));
        } else if (command == "TRACK") {
            if (out.Files.empty())
                return Fail(why, lineNo, "TRACK before any FILE");
            if (!finishTrack())
                return false;
            const int64_t number = words.size() > 1 ? Number(words[1]) : -1;
            if (number < 1 || number > 99)
                return Fail(why, lineNo, "TRACK without a track number from 1 to 99");
            if (!out.Tracks.empty() && number <= out.Tracks.back().Number)
                return Fail(why, lineNo,
                            "track " + std::to_string(number) + " follows track " +
                                std::to_string(out.Tracks.back().Number) +
                                ": the tracks are out of order");
            if (words.size() < 3 || AsciiUpper(words[2]) != "AUDIO")
                return Fail(why, lineNo,
                            "track " + std::to_string(number) + " is not an AUDIO track");
            out.Tracks.emplace_back();
            track = &out.Tracks.back();
            track->Number = static_cast<int>(number);
            track->Line = lineNo;
        } else if (command == "INDEX") {
            if (!track)
                return Fail(why, lineNo, "INDEX outside a track");
            const int64_t number = words.size() > 1 ? Number(words[1]) : -1;
            if (number < 0 || number > 99)
                return Fail(why, lineNo, "INDEX without an index number from 0 to 99");
            const int64_t frame = words.size() > 2 ? ParseCueTime(words[2]) : -1;
            if (frame < 0)
                return Fail(why, lineNo,
                            "\"" + ControlCharsEscaped(words.size() > 2 ? words[2] : std::string()) +
                                "\" is not a time (mm:ss:ff)");
            const TCueIndex index{static_cast<int>(number), out.Files.size() - 1, frame, lineNo};
            // Tracks of one file start one after the other: a start before the previous
            // track's is a sheet out of order (or one glued from two albums).
            if (number == 1 && out.Tracks.size() > 1) {
                const TCueTrackEntry& previous = out.Tracks[out.Tracks.size() - 2];
                const TCueIndex& s = previous.Start();
                if (s.File == index.File && s.Frame >= frame)
                    return Fail(why, lineNo,
                                "track " + std::to_string(track->Number) + " starts at " +
                                    TimeText(frame) + ", not after track " +
                                    std::to_string(previous.Number) + " (" + TimeText(s.Frame) +
                                    "): the tracks are out of order");
            }
            track->Indexes.push_back(index);
        } else if (command == "TITLE" || command == "PERFORMER") {
            std::string& slot = command == "TITLE" ? (track ? track->Title : out.Title)
                                                   : (track ? track->Performer : out.Performer);
            slot = Value(words, 1);
        } else if (command == "ISRC" && track) {
            track->Isrc = Value(words, 1);
        } else if (command == "CATALOG") {
            out.Catalog = Value(words, 1);
        } else if (command == "REM" && words.size() > 2) {
            const std::string key = AsciiUpper(words[1]);
            if (key == "DATE")
                out.Date = Value(words, 2);
            else if (key == "GENRE")
                out.Genre = Value(words, 2);
        }
        // Other commands (FLAGS, PREGAP, SONGWRITER, ...) change nothing here.
        return true;
    };
    bool ok = true;
    const int lines = ForEachLine(text, [&](int lineNo, std::string_view line) {
        ok = parseLine(lineNo, line);
        return ok;
    });
    if (!ok)
        return false;
    out.LineCount = lines;
    if (!finishTrack())
        return false;
    if (out.Tracks.empty())
        return Fail(why, lines, "the sheet has no TRACK");
    return true;
}

} // namespace bw
