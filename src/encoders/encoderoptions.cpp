#include "encoders/encoderoptions.h"

#include <charconv>
#include <functional>

namespace bw {

namespace {

struct TOptionSlot {
    const char* Name;
    int Min;
    int Max;
    // Stores a checked value into its control (and its radio partner).
    std::function<void(TEncoderOptions&, int)> Set;
};

constexpr int kLastBitrate = kBitrateCount - 1;

std::function<void(TEncoderOptions&, int)> Flag(bool TMp3Options::*m) {
    return [m](TEncoderOptions& o, int v) { o.Mp3.*m = v != 0; };
}
std::function<void(TEncoderOptions&, int)> Number(int TMp3Options::*m) {
    return [m](TEncoderOptions& o, int v) { o.Mp3.*m = v; };
}
std::function<void(TEncoderOptions&, int)> Flag(bool TOggOptions::*m) {
    return [m](TEncoderOptions& o, int v) { o.Ogg.*m = v != 0; };
}
std::function<void(TEncoderOptions&, int)> Number(int TOggOptions::*m) {
    return [m](TEncoderOptions& o, int v) { o.Ogg.*m = v; };
}

const std::vector<TOptionSlot>& Slots() {
    static const std::vector<TOptionSlot> slots{
        {"MP3SampleRate", 0, 2, Number(&TMp3Options::Samplerate)},
        {"MP3Channels", 0, 4, Number(&TMp3Options::Channels)},
        {"MP3Original", 0, 1, Flag(&TMp3Options::Original)},
        {"MP3Copyright", 0, 1, Flag(&TMp3Options::Copyright)},
        {"MP3CRC", 0, 1, Flag(&TMp3Options::CRC)},
        {"MP3CBR", 0, 1, [](TEncoderOptions& o, int v) { o.Mp3.CBR = v != 0; o.Mp3.VBR = v == 0; }},
        {"MP3BitRate", 0, kLastBitrate, Number(&TMp3Options::CBRBitrate)},
        {"MP3HQ", 0, 1, Flag(&TMp3Options::HQ)},
        {"MP3VBR", 0, 1, [](TEncoderOptions& o, int v) { o.Mp3.VBR = v != 0; o.Mp3.CBR = v == 0; }},
        {"MP3MinBitRate", 0, kLastBitrate, Number(&TMp3Options::VBRMin)},
        {"MP3MaxBitRate", 0, kLastBitrate, Number(&TMp3Options::VBRMax)},
        {"MP3VBRQuality", 0, 9, Number(&TMp3Options::TrackBar1)},
        {"OGGSamplerate", 0, kOggSamplerateCount - 1, Number(&TOggOptions::OGGSamplerate)},
        {"OGGChannels", 0, 1, Number(&TOggOptions::OGGChannels)},
        {"OGGQuality", 0, 1,
         [](TEncoderOptions& o, int v) { o.Ogg.OGGQ = v != 0; o.Ogg.BitrateManager = v == 0; }},
        {"OGGQualitySel", kOggMinQuality, kOggMaxQuality, Number(&TOggOptions::TrackBar2)},
        {"OGGBitrateManager", 0, 1,
         [](TEncoderOptions& o, int v) { o.Ogg.BitrateManager = v != 0; o.Ogg.OGGQ = v == 0; }},
        {"OGGNominal", 0, kLastBitrate, Number(&TOggOptions::OGGNominal)},
        {"OGGVBR", 0, 1, Flag(&TOggOptions::OGGVBR)},
        {"OGGMin", 0, kLastBitrate, Number(&TOggOptions::OGGMin)},
        {"OGGMax", 0, kLastBitrate, Number(&TOggOptions::OGGMax)},
        {"WAVSamplerate", 0, static_cast<int>(kWavSamplerates.size()) - 1,
         [](TEncoderOptions& o, int v) { o.Wav.WAVSamplerate = v; }},
        {"WAVChannels", 0, 1, [](TEncoderOptions& o, int v) { o.Wav.WAVChannels = v; }},
        {"WAVNormalize", 0, 1, [](TEncoderOptions& o, int v) { o.Wav.cbNormalize = v != 0; }},
        {"WAVbps", 0, 1, [](TEncoderOptions& o, int v) { o.Wav.WAVbps = v; }},
        {"WMASamplerate", 0, static_cast<int>(kWmaSamplerates.size()) - 1,
         [](TEncoderOptions& o, int v) { o.Wma.WMASamplerate = v; }},
        {"WMAChannels", 0, 1, [](TEncoderOptions& o, int v) { o.Wma.WMAChannels = v; }},
        // An index past the list of the chosen rate and channels is taken here and gives a
        // clear error when the item is converted, as an empty list on the page does.
        {"WMABitrate", 0, kWmaMaxBitrates - 1, [](TEncoderOptions& o, int v) { o.Wma.WMABitrate = v; }},
        {"FLACMyTrackBar", 0, kFlacMaxLevel,
         [](TEncoderOptions& o, int v) { o.Flac.FLACMyTrackBar = v; }},
        {"FLACLax", 0, 1, [](TEncoderOptions& o, int v) { o.Flac.FLACLax = v != 0; }},
        {"MPCMyTrackBar", kMpcMinProfile, kMpcMaxProfile,
         [](TEncoderOptions& o, int v) { o.Mpc.MPCMyTrackBar = v; }},
    };
    return slots;
}

} // namespace

bool SetEncoderOption(TEncoderOptions& options, std::string_view name, std::string_view value,
                      std::string* error) {
    for (const auto& slot : Slots()) {
        if (name != slot.Name)
            continue;
        int v = 0;
        const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
        if (ec != std::errc() || end != value.data() + value.size() || v < slot.Min ||
            v > slot.Max) {
            if (error)
                *error = std::string(name) + " takes a whole number from " +
                         std::to_string(slot.Min) + " to " + std::to_string(slot.Max) +
                         ", not '" + std::string(value) + "'";
            return false;
        }
        slot.Set(options, v);
        return true;
    }
    if (error) {
        *error = name.starts_with("APE")
                     ? std::string(name) +
                           " belongs to the Monkey's Audio page, whose output is not available "
                           "in this version yet"
                     : "unknown option value name '" + std::string(name) + "'";
    }
    return false;
}

std::vector<std::string> EncoderOptionNames() {
    std::vector<std::string> names;
    for (const auto& slot : Slots())
        names.emplace_back(slot.Name);
    return names;
}

} // namespace bw
