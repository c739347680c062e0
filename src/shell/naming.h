#pragma once

#include "shell/appsettings.h"

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

// The file-name separators: what the list shows and what goes between the elements.
struct TSeparatorSpec {
    const char* Entry;
    const char* Text;
};
inline constexpr std::array<TSeparatorSpec, 5> kSeparators{{
    {"none", ""},
    {"(space)", " "},
    {"- (dash)", "-"},
    {". (dot)", "."},
    {"_(accentuation)", "_"},
}};
std::string SeparatorText(int index);

// The file-name pattern: the seven element names in their order, which are used, and the
// separator index.
struct TNamePattern {
    std::array<std::string, kPatternElements> Names;
    std::array<bool, kPatternElements> Used{};
    int Separator = 1;

    static TNamePattern FromSettings(const TAppSettings& s);
    void ToSettings(TAppSettings& s) const;
};

// The tag texts a name is made of.
struct TNameFields {
    std::string Title, Artist, Year, Genre, Album;
    int Track = 0;
};

// The longest name most file systems take, in bytes.
inline constexpr size_t kMaxFileNameBytes = 255;
// Room kept for the longest output extension (".flac") after a track's file name.
inline constexpr size_t kExtensionReserve = 5;

// A text made fit to be one file or folder name. Names come from tags, CD-TEXT and the disc
// database, which may hold anything: "/" and control characters become "_" (no stray
// folders), leading dots and spaces go (no "..", no hidden files; a leading "-" stays, as
// no name passes through a shell), an empty result becomes fallback, and the name is cut on
// a UTF-8 character boundary so that it takes at most kMaxFileNameBytes - reserve bytes.
std::string SafeFileNamePart(std::string_view text, std::string_view fallback, size_t reserve = 0);

// One output path name that FAT, exFAT and Windows accept: each of : ? * " < > | \, each
// control character (0x00-0x1F, 0x7F) and every dot or space at its end becomes "_". Only
// the characters change, never the length.
std::string FatSafeName(std::string_view name);

// A CD track's file name (no folder, no extension) from its tag texts and the pattern, the
// texts joined as they are.
std::string BuildTrackFileName(const TNameFields& f, const TNamePattern& pattern);
// The name a CD track is given: BuildTrackFileName made safe as a file name, with room for
// the extension; "Track N" when nothing is left.
std::string SafeTrackFileName(const TNameFields& f, const TNamePattern& pattern);

// The settings dialog's preview line: the sub-folders that would be made, then the checked
// elements by name, then ".mp3".
std::string FileNamePreview(const TNamePattern& pattern, bool createArtist, bool createAlbum);
// The preview of where a file added with a folder goes: under the folder's name and the
// path below it when the structure is kept, else in the output folder itself.
std::string FolderFilePreview(bool keepStructure, bool safeNames);

// What the output folder field shows while outputs go beside their sources.
inline constexpr const char* kSameFolderAsSource = "same folder as source";

} // namespace bw
