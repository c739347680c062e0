#include "streamtestutil.h"

#include <cstdlib>

namespace bwtest {

double FfprobeDuration(const std::string& path) {
    const std::string out = RunOk({"ffprobe", "-v", "error", "-show_entries", "format=duration",
                                   "-of", "csv=p=0", path});
    return std::atof(out.c_str());
}

int64_t DecodedFrames(const std::string& path, int channels) {
    return static_cast<int64_t>(FfmpegDecode(path).size()) / (2 * channels);
}

std::string LE16(uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

} // namespace bwtest
