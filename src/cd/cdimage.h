#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

// Whether a path names a disc image the drive list takes (.cue or .toc, any case).
bool IsCdImagePath(std::string_view path);

// A disc image made ready for libcdio: the file to open and the driver that reads it.
struct TCdImageSource {
    std::string OpenPath;
    bool Toc = false; // a cdrdao .toc file, else a cue sheet
};

// Checks an image and, where libcdio would not find its data as the sheet names it, makes
// a bridge in this instance's temporary folder:
// - libcdio reads a cue sheet's data from <sheet name>.bin whatever its FILE line says, so a
//   sheet naming one BINARY file of another name is opened as a copy beside a link of that
//   name to the real file;
// - a .toc file's relative file names are taken against the working folder, so the sheet is
//   opened as a copy naming the files by their full paths.
// Sheets naming several files, or audio files (WAVE, FLAC, MP3, ...) rather than raw
// BINARY data, are refused: those are album images (see OpenAlbumImage). False with the
// reason in *why.
bool PrepareCdImage(const std::string& path, TCdImageSource& out, std::string* why);

// Whether a path is a cue sheet naming audio files (a FILE of any type but BINARY and
// MOTOROLA): an album image, opened from its audio files rather than through libcdio.
bool IsAlbumSheet(const std::string& path);

// The bytes of a sheet (.cue or .toc); none, with the reason in *why, for a file that
// can't be read or is far too large to be a sheet.
std::optional<std::vector<std::byte>> ReadCueSheetBytes(const std::string& path, std::string* why);

} // namespace bw
