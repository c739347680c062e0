#include "encoders/wmaoptions.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>

namespace bw {

namespace {

constexpr std::array<int, 12> kOfferedKbps{320, 256, 192, 160, 128, 96, 80, 64, 48, 40, 32, 24};

} // namespace

std::vector<int> WmaEncoderRates(int sampleRate, int channels) {
    // wmav2 spends its bits on a band that grows with the rate; above about 1/4.4 of the
    // PCM's 16-bit rate there is nothing left to spend them on, so such rates are not offered.
    std::vector<int> rates;
    if (sampleRate <= 0 || channels < 1 || channels > 2)
        return rates;
    const int64_t limit = int64_t{sampleRate} * channels * 16 * 10; // x 44 on the other side
    for (const int kbps : kOfferedKbps)
        if (int64_t{kbps} * 1000 * 44 <= limit)
            rates.push_back(kbps * 1000);
    return rates;
}

std::vector<std::string> WmaBitrateEntries(int sampleRate, int channels) {
    std::vector<std::string> entries;
    for (const int bps : WmaEncoderRates(sampleRate, channels))
        if (bps > 1000)
            entries.push_back(std::to_string(bps / 1000) + " kbps");
    return entries;
}

int ParseKbps(std::string_view text) {
    if (text.size() <= 5)
        return 0;
    text.remove_suffix(5);
    int kbps = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), kbps);
    if (ec != std::errc() || end != text.data() + text.size() || kbps < 0 || kbps > 100000)
        return 0;
    return kbps * 1000;
}

int WmaSampleRate(const TWmaOptions& o) {
    const size_t i = static_cast<size_t>(std::clamp<int>(o.WMASamplerate, 0, kWmaSamplerates.size() - 1));
    return std::atoi(kWmaSamplerates[i]);
}

int WmaChannelCount(const TWmaOptions& o) {
    return WmaSampleRate(o) == 48000 ? 2 : (o.WMAChannels == 0 ? 1 : 2);
}

int WmaBitrate(const TWmaOptions& o) {
    const auto entries = WmaBitrateEntries(WmaSampleRate(o), WmaChannelCount(o));
    if (o.WMABitrate < 0 || o.WMABitrate >= static_cast<int>(entries.size()))
        return 0;
    return ParseKbps(entries[static_cast<size_t>(o.WMABitrate)]);
}

} // namespace bw
