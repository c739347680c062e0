#include "tags/cdatrack.h"

#include "common/asciicase.h"
#include "common/bytereader.h"
#include "common/filebytes.h"
#include "tags/tagsource.h"
#include "tags/textcodec.h"

#include <cstdio>
#include <map>
#include <cstdlib>

namespace bw {

namespace {

constexpr size_t kMaxIniBytes = 4 * 1024 * 1024;
constexpr int kFramesPerSecond = 75;

} // namespace

std::map<std::string, std::string> ReadIniSection(const std::string& path, const std::string& section) {
    std::map<std::string, std::string> values;
    const auto bytes = ReadFileRange(path, 0, kMaxIniBytes);
    if (!bytes)
        return values;
    const std::string_view text = AsText(*bytes);
    bool inSection = false;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = TrimControl(text.substr(pos, end - pos));
        pos = end + 1;
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            const size_t close = line.find(']');
            inSection = close != std::string_view::npos &&
                        EqualsIgnoringAsciiCase(TrimControl(line.substr(1, close - 1)), section);
            continue;
        }
        const size_t eq = line.find('=');
        if (!inSection || eq == std::string_view::npos)
            continue;
        // The first of a repeated key counts, as a lookup from the top of the file finds it.
        values.emplace(AsciiLower(TrimControl(line.substr(0, eq))),
                       Utf8OrLatin1(TrimControl(line.substr(eq + 1))));
    }
    return values;
}

std::string TCDAtrack::DefaultDatabasePath() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg)
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        base = std::string(home) + "/.config";
    else
        return {};
    return base + "/Halvorix/cdplayer.ini";
}

void TCDAtrack::Clear() {
    valid_ = false;
    title_.clear();
    artist_.clear();
    album_.clear();
    duration_ = 0;
    trackNumber_ = 0;
    startPosition_ = 0;
    serial_ = 0;
}

bool TCDAtrack::ReadFromFile(const std::string& path) {
    Clear();
    TFileSource source;
    if (!source.Open(path))
        return false;
    return ReadFrom(source);
}

bool TCDAtrack::ReadFrom(TTagSource& source) {
    Clear();
    std::vector<std::byte> head;
    if (!source.Read(0, kFileSize, head))
        return false;
    head.resize(kFileSize); // a shorter file reads as zeros past its end
    TByteReader r(head);
    const bool riff = r.Expect("RIFF");
    r.Seek(8);
    const bool cdda = r.Expect("CDDAfmt ");
    r.Seek(22);
    const uint16_t track = r.U16LE();
    const uint32_t serial = r.U32LE();
    const uint32_t start = r.U32LE();
    const uint32_t length = r.U32LE();
    if (!riff || !cdda)
        return true;
    valid_ = true;
    serial_ = serial;
    trackNumber_ = static_cast<int16_t>(track);
    duration_ = static_cast<double>(length) / kFramesPerSecond;
    startPosition_ = static_cast<double>(start) / kFramesPerSecond;
    if (!databasePath_.empty()) {
        char section[16];
        std::snprintf(section, sizeof section, "%02X", serial);
        // One read of the database gives all three titles.
        const auto values = ReadIniSection(databasePath_, section);
        auto value = [&](const std::string& key) {
            const auto it = values.find(key);
            return it == values.end() ? std::string() : it->second;
        };
        title_ = value(std::to_string(track));
        artist_ = value("artist");
        album_ = value("title");
    }
    return true;
}

} // namespace bw
