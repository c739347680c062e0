#include "encoders/mp3options.h"

#include <array>

namespace bw {

namespace {

constexpr std::array<const char*, kBitrateCount> kBitrates{
    "32", "40", "48", "56", "64", "80", "96", "112", "128", "160", "192", "224", "256", "320"};
constexpr std::array<const char*, 5> kChannelModes{"s", "j", "f", "d", "m"};
constexpr std::array<const char*, 3> kResampleRates{"48", "44.1", "32"};
constexpr int kMaxVbrQuality = 9;

// A list index that selects nothing leaves its switch's value empty rather than reading
// past the list.
template <size_t N>
const char* Entry(const std::array<const char*, N>& list, int index) {
    return index >= 0 && static_cast<size_t>(index) < N ? list[static_cast<size_t>(index)] : "";
}

} // namespace

std::string BitrateFromIndex(int index) {
    return index >= 0 && index < kBitrateCount ? kBitrates[static_cast<size_t>(index)] : "40";
}

TCommandLine BuildMp3Options(const TMp3Options& o) {
    TCommandLine line;
    if (o.CBR) {
        line.Add(" --cbr -b " + BitrateFromIndex(o.CBRBitrate));
        if (o.HQ)
            line.Add(" -h");
    } else {
        line.Add(" -b " + BitrateFromIndex(o.VBRMin) + " -B " + BitrateFromIndex(o.VBRMax) +
                 " -V " + std::to_string(kMaxVbrQuality - o.TrackBar1));
    }
    line.Add(std::string(" -m ") + Entry(kChannelModes, o.Channels));
    line.Add(std::string(" --resample ") + Entry(kResampleRates, o.Samplerate));
    if (o.Copyright)
        line.Add(" -c");
    if (!o.Original)
        line.Add(" -o");
    if (o.CRC)
        line.Add(" -p");
    return line;
}

std::string Mp3QualityLabel(const TMp3Options& o) {
    return std::to_string(kMaxVbrQuality - o.TrackBar1);
}

} // namespace bw
