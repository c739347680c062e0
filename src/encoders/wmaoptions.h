#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace bw {

// Every control of the WMA page, with the page's defaults. WMABitrate is an index into the
// bitrate list the page fills for the chosen rate and channels (WmaBitrateEntries).
struct TWmaOptions {
    int WMASamplerate = 1; // index into kWmaSamplerates: 44100
    int WMAChannels = 1;   // "Mono", "Stereo": index + 1 channels
    int WMABitrate = 0;
};

inline constexpr std::array<const char*, 6> kWmaSamplerates{"48000", "44100", "32000",
                                                            "22050", "16000", "8000"};
inline constexpr std::array<const char*, 2> kWmaChannelNames{"Mono", "Stereo"};
// The most entries a bitrate list can hold.
inline constexpr int kWmaMaxBitrates = 12;

// The bitrates in bits per second our WMA encoder offers for a rate and channel count, high
// to low; empty when it offers none.
std::vector<int> WmaEncoderRates(int sampleRate, int channels);

// The bitrate list's entries for a rate and channel count: each offered rate above 1000
// bits per second, in kbps (integer division), followed by " kbps".
std::vector<std::string> WmaBitrateEntries(int sampleRate, int channels);

// Bits per second from a list entry ("128 kbps" gives 128000); an empty text gives 0.
int ParseKbps(std::string_view text);

// The values the page stands for. 48000 Hz is always encoded in stereo; the bitrate is 0 when
// the index is not an entry of the list for the rate and channels.
int WmaSampleRate(const TWmaOptions& o);
int WmaChannelCount(const TWmaOptions& o);
int WmaBitrate(const TWmaOptions& o);

} // namespace bw
