#include "cd/cdimage.h"

#include "cd/cddrives.h"
#include "cd/cuesheet.h"
#include "common/asciicase.h"
#include "common/controlchars.h"
#include "common/filebytes.h"
#include "common/instancetemp.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

namespace bw {

namespace {

namespace fs = std::filesystem;

// A sheet is a few kilobytes; anything far larger is not one.
constexpr size_t kMaxSheetBytes = 1 << 20;

std::string_view Extension(std::string_view path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return {};
    return path.substr(dot + 1);
}

bool Fail(std::string* why, std::string text) {
    if (why)
        *why = std::move(text);
    return false;
}

std::optional<std::string> ReadSheet(const std::string& path, std::string* why) {
    const auto bytes = ReadCueSheetBytes(path, why);
    if (!bytes)
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(bytes->data()), bytes->size());
}

// A file named in a sheet, taken against the sheet's own folder.
fs::path Resolve(const std::string& sheet, const std::string& name) {
    const fs::path p(name);
    return p.is_absolute() ? p : fs::path(sheet).parent_path() / p;
}

// A fresh folder for one bridge inside the instance's temporary folder.
std::optional<fs::path> BridgeFolder(std::string* why) {
    static std::atomic<unsigned> counter{0};
    std::string reason;
    const std::string base = InstanceTemporaryFolder(&reason);
    if (base.empty()) {
        Fail(why, "Can't make a temporary folder: " + reason);
        return std::nullopt;
    }
    const fs::path dir = fs::path(base) / ("cdimage-" + std::to_string(++counter));
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        Fail(why, "Can't make the folder \"" + dir.string() + "\": " + ec.message());
        return std::nullopt;
    }
    return dir;
}

bool WriteText(const fs::path& path, const std::string& text, std::string* why) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f.write(text.data(), static_cast<std::streamsize>(text.size()));
    f.close();
    if (!f)
        return Fail(why, "Can't write \"" + path.string() + "\"");
    return true;
}

bool IsRawData(const TCueFileLine& file) {
    return file.Type == "BINARY" || file.Type == "MOTOROLA";
}

// The bytes one sector of a cue sheet's track mode takes in its BINARY file; 0 for a mode
// the library does not know.
int64_t SectorBytes(std::string_view mode) {
    static constexpr std::pair<std::string_view, int64_t> kModes[] = {
        {"AUDIO", 2352},      {"MODE1/2048", 2048}, {"MODE1/2352", 2352}, {"MODE2/2048", 2048},
        {"MODE2/2324", 2324}, {"MODE2/2336", 2336}, {"MODE2/2352", 2352}, {"CDG", 2448},
        {"CDI/2336", 2336},   {"CDI/2352", 2352},
    };
    for (const auto& [name, bytes] : kModes)
        if (name == mode)
            return bytes;
    return 0;
}

// Every INDEX of a one-file sheet must lie inside its data file, in order, with at least
// one whole sector there: given a track past the end of its file, the library reads
// nothing for minutes on end. The file is taken as the library takes it: the sectors from
// one position to the next have the size of the mode of the track the first is in.
bool CheckCueExtents(std::string_view text, uint64_t fileBytes, const std::string& data,
                     std::string* why) {
    int64_t trackBytes = 0; // a sector of the track being read
    int64_t lastBytes = 0;  // ... of the track of the last position
    int64_t lastFrame = -1;
    int64_t lastOffset = 0;
    int lastLine = 0;
    std::string lastTime;
    int lineNo = 0;
    const auto refuse = [&](const std::string& what) {
        return Fail(why, "line " + std::to_string(lineNo) + ": " + what);
    };
    for (size_t pos = 0; pos < text.size();) {
        const size_t end = std::min(text.find('\n', pos), text.size());
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const auto words = SplitCueLine(line);
        const std::string command = words.empty() ? std::string() : AsciiUpper(words[0]);
        if (command == "TRACK") {
            trackBytes = SectorBytes(words.size() > 2 ? AsciiUpper(words[2]) : std::string());
            if (trackBytes == 0)
                return refuse("a TRACK without a known mode");
        } else if (command == "INDEX" && trackBytes > 0) {
            const std::string time = words.size() > 2 ? words[2] : std::string();
            const int64_t frame = ParseCueTime(time);
            if (frame < 0)
                return refuse("\"" + time + "\" is not a time (mm:ss:ff)");
            if (lastFrame >= 0 && frame <= lastFrame)
                return refuse(time + " does not come after " + lastTime + " (line " +
                              std::to_string(lastLine) + ")");
            const int64_t offset =
                lastFrame < 0 ? frame * trackBytes : lastOffset + (frame - lastFrame) * lastBytes;
            if (static_cast<uint64_t>(offset + trackBytes) > fileBytes)
                return refuse(time + " lies past the end of the data file \"" + data + "\" (" +
                              std::to_string(fileBytes) + " bytes)");
            lastBytes = trackBytes;
            lastFrame = frame;
            lastOffset = offset;
            lastLine = lineNo;
            lastTime = time;
        }
    }
    return true;
}

bool PrepareCue(const std::string& path, TCdImageSource& out, std::string* why) {
    const auto sheet = ReadSheet(path, why);
    if (!sheet)
        return false;
    const std::string text =
        DecodeCueText(std::span(reinterpret_cast<const std::byte*>(sheet->data()), sheet->size()));
    const auto files = CueFileLines(text);
    if (files.empty())
        return Fail(why, "The cue sheet \"" + path + "\" names no data file");
    if (files.size() > 1)
        return Fail(why, "The cue sheet \"" + path +
                             "\" names several files; only a sheet with one BINARY file can be "
                             "opened as a CD image");
    const TCueFileLine& file = files.front();
    if (file.Type != "BINARY")
        return Fail(why, "The cue sheet \"" + path + "\" names a " +
                             (file.Type.empty() ? std::string("file without a type")
                                                : ControlCharsEscaped(file.Type) + " file") +
                             "; only a sheet with one BINARY file can be opened as a CD image");
    const fs::path data = Resolve(path, file.Name);
    std::error_code ec;
    if (!fs::exists(data, ec))
        return Fail(why, "The data file \"" + ControlCharsEscaped(data.string()) + "\" of the cue sheet \"" + path +
                             "\" does not exist");
    // The library would wait for ever on a named pipe, or read a device.
    const auto dataBytes = FileSizeOf(data.string());
    if (!dataBytes)
        return Fail(why, "The data file \"" + ControlCharsEscaped(data.string()) + "\" of the cue sheet \"" + path +
                             "\" is not a regular file");
    std::string reason;
    if (!CheckCueExtents(text, *dataBytes, data.string(), &reason))
        return Fail(why, "The cue sheet \"" + path + "\", " + reason);
    // libcdio takes the data from the sheet's own name with "bin" for "cue".
    const fs::path expected = path.substr(0, path.size() - 3) + "bin";
    if (fs::equivalent(data, expected, ec)) {
        out = {path, false};
        return true;
    }
    const auto dir = BridgeFolder(why);
    if (!dir)
        return false;
    const fs::path target = fs::absolute(data, ec);
    fs::create_symlink(target, *dir / "image.bin", ec);
    if (ec)
        return Fail(why, "Can't link \"" + target.string() + "\": " + ec.message());
    if (!WriteText(*dir / "image.cue", *sheet, why))
        return false;
    out = {(*dir / "image.cue").string(), false};
    return true;
}

// Where the audio of a .toc FILE starts in its file, from what follows the file's name:
// "[#byte offset] start", the start as mm:ss:ff or a count of samples. -1 when it is not
// written in one of those ways (the library then judges the line).
int64_t TocStartByte(std::string_view rest) {
    const auto words = SplitCueLine(rest);
    size_t next = 0;
    int64_t offset = 0;
    if (!words.empty() && words[0].starts_with('#')) {
        const std::string& w = words[0];
        const auto [end, err] = std::from_chars(w.data() + 1, w.data() + w.size(), offset);
        if (err != std::errc() || end != w.data() + w.size() || offset < 0)
            return -1;
        next = 1;
    }
    if (next >= words.size())
        return -1;
    const std::string& start = words[next];
    if (start.find(':') != std::string::npos) {
        const int64_t frames = ParseCueTime(start);
        return frames < 0 ? -1 : offset + frames * kCdSectorBytes;
    }
    int64_t samples = -1;
    const auto [end, err] = std::from_chars(start.data(), start.data() + start.size(), samples);
    if (err != std::errc() || end != start.data() + start.size() || samples < 0)
        return -1;
    return offset + samples * 4;
}

// Rewrites the file names of a .toc sheet (after FILE, AUDIOFILE and DATAFILE) to full
// paths. No value when a name cannot be written back as it stands.
std::optional<std::string> AbsoluteTocNames(const std::string& path, const std::string& sheet,
                                            std::string* why) {
    std::string result;
    result.reserve(sheet.size() + 256);
    std::string lastWord;
    size_t i = 0;
    while (i < sheet.size()) {
        const char c = sheet[i];
        if (c == '/' && i + 1 < sheet.size() && sheet[i + 1] == '/') {
            const size_t end = std::min(sheet.size(), sheet.find('\n', i));
            result.append(sheet, i, end - i);
            i = end;
            continue;
        }
        if (c == '"') {
            size_t close = i + 1;
            while (close < sheet.size() && sheet[close] != '"')
                close += sheet[close] == '\\' ? 2 : 1;
            if (close >= sheet.size()) {
                Fail(why, "The .toc file \"" + path + "\" has an unclosed string");
                return std::nullopt;
            }
            const std::string text = sheet.substr(i + 1, close - i - 1);
            const std::string word = AsciiUpper(lastWord);
            if (word == "FILE" || word == "AUDIOFILE" || word == "DATAFILE") {
                std::error_code ec;
                const std::string full = fs::absolute(Resolve(path, text), ec).string();
                if (text.find('\\') != std::string::npos ||
                    full.find_first_of("\"\\") != std::string::npos) {
                    Fail(why, "The .toc file \"" + path + "\" names a file whose name can't be "
                                                          "taken over: " + ControlCharsEscaped(text));
                    return std::nullopt;
                }
                // The library would wait for ever on a named pipe, or read a device.
                const auto size = FileSizeOf(full);
                if (!size) {
                    Fail(why, "The data file \"" + ControlCharsEscaped(full) + "\" of the .toc file \"" + path +
                                  "\" does not exist or is not a regular file");
                    return std::nullopt;
                }
                // The library checks a length against the file, but not where the audio
                // starts, and reads nothing for minutes from a start past the file's end.
                const size_t lineEnd = std::min(sheet.find('\n', close), sheet.size());
                const std::string_view rest =
                    std::string_view(sheet).substr(close + 1, lineEnd - close - 1);
                const int64_t start = word == "DATAFILE" ? 0 : TocStartByte(rest);
                if (start >= 0 && static_cast<uint64_t>(start + kCdSectorBytes) > *size) {
                    const auto line = 1 + std::count(sheet.begin(), sheet.begin() + close, '\n');
                    Fail(why, "The .toc file \"" + path + "\", line " + std::to_string(line) +
                                  ": the audio starts past the end of the data file \"" + ControlCharsEscaped(full) +
                                  "\" (" + std::to_string(*size) + " bytes)");
                    return std::nullopt;
                }
                result += '"' + full + '"';
            } else {
                result.append(sheet, i, close + 1 - i);
            }
            lastWord.clear();
            i = close + 1;
            continue;
        }
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_') {
            size_t end = i;
            while (end < sheet.size() &&
                   ((sheet[end] >= 'A' && sheet[end] <= 'Z') ||
                    (sheet[end] >= 'a' && sheet[end] <= 'z') || sheet[end] == '_'))
                ++end;
            lastWord = sheet.substr(i, end - i);
            result.append(sheet, i, end - i);
            i = end;
            continue;
        }
        if (c != ' ' && c != '\t' && c != '\r' && c != '\n')
            lastWord.clear();
        result += c;
        ++i;
    }
    return result;
}

bool PrepareToc(const std::string& path, TCdImageSource& out, std::string* why) {
    const auto sheet = ReadSheet(path, why);
    if (!sheet)
        return false;
    const auto rewritten = AbsoluteTocNames(path, *sheet, why);
    if (!rewritten)
        return false;
    if (*rewritten == *sheet) {
        out = {path, true};
        return true;
    }
    const auto dir = BridgeFolder(why);
    if (!dir || !WriteText(*dir / "image.toc", *rewritten, why))
        return false;
    out = {(*dir / "image.toc").string(), true};
    return true;
}

} // namespace

std::optional<std::vector<std::byte>> ReadCueSheetBytes(const std::string& path, std::string* why) {
    const auto size = FileSizeOf(path);
    if (!size) {
        Fail(why, "Can't open \"" + path + "\"");
        return std::nullopt;
    }
    if (*size > kMaxSheetBytes) {
        Fail(why, "\"" + path + "\" is too large to be a disc image sheet");
        return std::nullopt;
    }
    auto bytes = ReadFileRange(path, 0, kMaxSheetBytes);
    if (!bytes)
        Fail(why, "Can't read \"" + path + "\"");
    return bytes;
}

bool IsAlbumSheet(const std::string& path) {
    if (AsciiLower(Extension(path)) != "cue")
        return false;
    const auto bytes = ReadCueSheetBytes(path, nullptr);
    if (!bytes)
        return false;
    const auto files = CueFileLines(DecodeCueText(*bytes));
    return std::any_of(files.begin(), files.end(),
                       [](const TCueFileLine& f) { return !IsRawData(f); });
}

bool IsCdImagePath(std::string_view path) {
    const std::string ext = AsciiLower(Extension(path));
    return ext == "cue" || ext == "toc";
}

bool PrepareCdImage(const std::string& path, TCdImageSource& out, std::string* why) {
    const std::string ext = AsciiLower(Extension(path));
    if (ext == "cue")
        return PrepareCue(path, out, why);
    if (ext == "toc")
        return PrepareToc(path, out, why);
    return Fail(why, "\"" + path + "\" is not a CD image (.cue or .toc)");
}

} // namespace bw
