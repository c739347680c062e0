#pragma once

#include <array>
#include <string>

namespace bw {

// FFmpeg's libraries are loaded on first use rather than when the program starts: Debian's
// build of them pulls in well over a hundred further libraries, whose loading costs a
// command-line run more than encoding a short file does. Files the program reads itself
// (WAV, FLAC) never load them.
//
// Whether the libraries are loaded, loading them on the first call. False when they cannot
// be, with why (naming the library) in *why. Every FFmpeg call made while they are missing
// fails as the library would on an error (AVERROR(ENOSYS), a null object).
bool FfmpegAvailable(std::string* why = nullptr);

// The sonames loaded (libavformat.so.N, ...), for the major versions the program was built
// with: a library of another major version has another ABI and is never loaded.
std::array<std::string, 4> FfmpegLibraryNames();

} // namespace bw
