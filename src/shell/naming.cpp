#include "shell/naming.h"

#include "common/controlchars.h"

#include <algorithm>

namespace bw {

std::string SeparatorText(int index) {
    return index >= 0 && index < static_cast<int>(kSeparators.size()) ? kSeparators[static_cast<size_t>(index)].Text : "";
}

TNamePattern TNamePattern::FromSettings(const TAppSettings& s) {
    TNamePattern p;
    p.Names = s.fstr;
    p.Used = s.fint;
    p.Separator = s.Separator;
    return p;
}

void TNamePattern::ToSettings(TAppSettings& s) const {
    s.fstr = Names;
    s.fint = Used;
    s.Separator = Separator;
}

namespace {

// Joins the checked elements with the separator; an empty value still gets its separator.
template <class Value> std::string Join(const TNamePattern& p, Value&& value) {
    const std::string sep = SeparatorText(p.Separator);
    std::string out;
    bool first = true;
    for (size_t i = 0; i < p.Names.size(); ++i) {
        if (!p.Used[i])
            continue;
        if (!first)
            out += sep;
        first = false;
        out += value(p.Names[i]);
    }
    return out;
}

} // namespace

std::string BuildTrackFileName(const TNameFields& f, const TNamePattern& pattern) {
    return Join(pattern, [&](const std::string& name) -> std::string {
        if (name == "Track number 1")
            return std::to_string(f.Track);
        if (name == "Track number 01")
            return (f.Track < 10 ? "0" : "") + std::to_string(f.Track);
        if (name == "Title")
            return f.Title;
        if (name == "Artist")
            return f.Artist;
        if (name == "Album")
            return f.Album;
        if (name == "Genre")
            return f.Genre;
        if (name == "Year")
            return f.Year;
        return {};
    });
}

std::string FileNamePreview(const TNamePattern& pattern, bool createArtist, bool createAlbum) {
    std::string out;
    if (createArtist)
        out += "Artist/";
    if (createAlbum)
        out += "Album/";
    out += Join(pattern, [](const std::string& name) -> std::string {
        if (name == "Track number 1")
            return "1";
        if (name == "Track number 01")
            return "01";
        return name;
    });
    return out + ".mp3";
}

std::string FolderFilePreview(bool keepStructure, bool safeNames) {
    const std::string name = safeNames ? FatSafeName("Intro: Live?.mp3") : "Intro: Live?.mp3";
    return keepStructure ? "Music/Artist/Album/" + name : name;
}

std::string SafeFileNamePart(std::string_view text, std::string_view fallback, size_t reserve) {
    size_t start = 0;
    while (start < text.size() && (text[start] == '.' || text[start] == ' '))
        ++start;
    std::string out;
    for (const char c : text.substr(start))
        out += (c == '/' || IsControlChar(c)) ? '_' : c;
    if (out.empty())
        out = fallback;
    const size_t limit = kMaxFileNameBytes - std::min(reserve, kMaxFileNameBytes - 1);
    if (out.size() > limit) {
        size_t cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(out[cut]) & 0xC0) == 0x80)
            --cut; // not inside a UTF-8 sequence
        out.resize(cut);
    }
    return out;
}

std::string FatSafeName(std::string_view name) {
    std::string out(name);
    for (char& c : out)
        if (IsControlChar(c) || std::string_view(":?*\"<>|\\").find(c) != std::string_view::npos)
            c = '_';
    for (size_t i = out.size(); i > 0 && (out[i - 1] == '.' || out[i - 1] == ' '); --i)
        out[i - 1] = '_';
    return out;
}

std::string SafeTrackFileName(const TNameFields& f, const TNamePattern& pattern) {
    return SafeFileNamePart(BuildTrackFileName(f, pattern), "Track " + std::to_string(f.Track),
                            kExtensionReserve);
}

} // namespace bw
