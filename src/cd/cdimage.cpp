#include "cd/cdimage.h"

#include "cd/cuesheet.h"
#include "common/asciicase.h"
#include "common/controlchars.h"
#include "common/filebytes.h"
#include "common/instancetemp.h"

#include <algorithm>
#include <atomic>
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

bool PrepareCue(const std::string& path, TCdImageSource& out, std::string* why) {
    const auto sheet = ReadSheet(path, why);
    if (!sheet)
        return false;
    const auto files = CueFileLines(
        DecodeCueText(std::span(reinterpret_cast<const std::byte*>(sheet->data()), sheet->size())));
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
    if (!fs::is_regular_file(data, ec))
        return Fail(why, "The data file \"" + ControlCharsEscaped(data.string()) +
                             "\" of the cue sheet \"" + path + "\" does not exist");
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
