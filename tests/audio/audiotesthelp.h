#pragma once

// Helpers of the audio binding's tests: test signals and whole-stream reads.

#include "audio/audiostream.h"

#include <cstddef>
#include <string>
#include <vector>

namespace bwtest {

// Writes a signal with ffmpeg in the format the extension asks for: two sines of unrelated
// frequencies, different in each channel, so that low bits vary and swapped or mixed
// channels show.
void MakeSignal(const std::string& path, double seconds, int rate, int channels,
                const std::vector<std::string>& extraOptions = {});

// Reads a stream to its end in blocks of blockSize; the test fails on a read error.
std::vector<std::byte> ReadToEnd(bw::TAudioStream& stream, size_t blockSize = 10240);

} // namespace bwtest
