#pragma once

// The sources the program decodes itself rather than through FFmpeg: PCM WAV files read
// straight from disk and FLAC files through libFLAC. They deliver exactly the PCM FFmpeg's
// decode of the same file gives (TAudioStream), so an output does not depend on which
// reader took its source; a conversion of them never loads FFmpeg and its libraries.

#include "audio/audiostream.h"

#include <memory>
#include <string>

namespace bw {

// A reader of its own for the file at path, or null when the file is anything the program
// leaves to FFmpeg: other formats, and WAV and
// FLAC files that need more than a plain walk (more than two channels, sample widths other
// than 8, 16 and 24 bits (16 and 24 for FLAC), WAVE_FORMAT_EXTENSIBLE headers, a data chunk
// cut short, a FLAC stream that does not state its length).
std::unique_ptr<TPcmSource> OpenPcmFileSource(const std::string& path, TSampleDepth depth);

} // namespace bw
