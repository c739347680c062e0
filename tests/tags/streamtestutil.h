#pragma once

// Helpers for the stream-information tests: what FFmpeg says of a file.

#include "support/testsupport.h"

#include <string>

namespace bwtest {

// The container duration ffprobe reports, in seconds.
double FfprobeDuration(const std::string& path);
// Sample frames FFmpeg decodes from the file (16-bit, the file's own channel count).
int64_t DecodedFrames(const std::string& path, int channels);
// A 16-bit little-endian number as two bytes.
std::string LE16(uint16_t v);

} // namespace bwtest
