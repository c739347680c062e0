#pragma once

#include <string>
#include <string_view>

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
// BINARY data, are refused. False with the reason in *why.
bool PrepareCdImage(const std::string& path, TCdImageSource& out, std::string* why);

} // namespace bw
