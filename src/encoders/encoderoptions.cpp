#include "encoders/encoderoptions.h"

#include <array>
#include <charconv>
#include <functional>
#include <type_traits>

namespace bw {

namespace {

struct TOptionSlot {
    const char* Name;
    int Min;
    int Max;
    // Stores a checked value into its control (and its radio partner).
    std::function<void(TEncoderOptions&, int)> Set;
    std::function<int(const TEncoderOptions&)> Get;
    bool Apart = false; // added after the first presets were stored
    // What a position selects, for the help; null when the number is its own meaning.
    std::string (*Text)(int) = nullptr;
    const char* Unit = "";
    const char* Note = "";

    TOptionSlot Shown(std::string (*text)(int), const char* unit = "", const char* note = "") && {
        Text = text;
        Unit = unit;
        Note = note;
        return std::move(*this);
    }
};

std::string OnOff(int v) { return v != 0 ? "on" : "off"; }

// The entry of a page's list for a position; First is the position of its first entry.
template <const auto& List, int First = 0> std::string Entry(int v) {
    const int i = v - First;
    return i >= 0 && static_cast<size_t>(i) < List.size() ? List[static_cast<size_t>(i)] : "";
}

std::string Mp3Quality(int v) {
    TMp3Options o;
    o.TrackBar1 = v;
    return "-V " + Mp3QualityLabel(o);
}

// The WMA list changes with the rate and channels; the help shows the default one.
std::string WmaDefaultBitrate(int v) {
    const TWmaOptions o;
    const auto entries = WmaBitrateEntries(WmaSampleRate(o), WmaChannelCount(o));
    return v >= 0 && static_cast<size_t>(v) < entries.size() ? entries[static_cast<size_t>(v)] : "-";
}

constexpr int kLastBitrate = kBitrateCount - 1;
// The AAC page's range; its options are shared with the encoder, which takes any of them.
constexpr int kAacMinBitrate = 32;
constexpr int kAacMaxBitrate = 320;

// A control that is one field of one page's options: a number, or a check box stored 0/1.
template <auto Page, auto Field> TOptionSlot Control(const char* name, int min, int max) {
    return {name, min, max,
            [](TEncoderOptions& o, int v) {
                auto& field = o.*Page.*Field;
                if constexpr (std::is_same_v<std::remove_reference_t<decltype(field)>, bool>)
                    field = v != 0;
                else
                    field = v;
            },
            [](const TEncoderOptions& o) { return static_cast<int>(o.*Page.*Field); }, false,
            std::is_same_v<std::remove_reference_t<decltype(TEncoderOptions{}.*Page.*Field)>, bool> ? OnOff
                                                                                                  : nullptr};
}

// One button of a pair of radio buttons: setting it clears its partner.
template <auto Page, auto Field, auto Partner> TOptionSlot Radio(const char* name) {
    return {name, 0, 1,
            [](TEncoderOptions& o, int v) {
                o.*Page.*Field = v != 0;
                o.*Page.*Partner = v == 0;
            },
            [](const TEncoderOptions& o) { return static_cast<int>(o.*Page.*Field); }, false, OnOff,
            "", "one of a pair of radio buttons: setting it clears the other"};
}

constexpr auto kMp3 = &TEncoderOptions::Mp3;
constexpr auto kOgg = &TEncoderOptions::Ogg;
constexpr auto kWav = &TEncoderOptions::Wav;
constexpr auto kWma = &TEncoderOptions::Wma;
constexpr auto kFlac = &TEncoderOptions::Flac;
constexpr auto kApe = &TEncoderOptions::Ape;
constexpr auto kMpc = &TEncoderOptions::Mpc;
constexpr auto kWv = &TEncoderOptions::WavPack;
constexpr auto kOpus = &TEncoderOptions::Opus;
constexpr auto kAac = &TEncoderOptions::Aac;

// A control of the pages added later, stored apart from the ordered values.
TOptionSlot Apart(TOptionSlot slot) {
    slot.Apart = true;
    return slot;
}

const std::vector<TOptionSlot>& Slots() {
    static const std::vector<TOptionSlot> slots{
        Control<kMp3, &TMp3Options::Samplerate>("MP3SampleRate", 0, 2).Shown(Entry<kMp3SamplerateNames>, "Hz"),
        Control<kMp3, &TMp3Options::Channels>("MP3Channels", 0, 4).Shown(Entry<kMp3ChannelNames>),
        Control<kMp3, &TMp3Options::Original>("MP3Original", 0, 1),
        Control<kMp3, &TMp3Options::Copyright>("MP3Copyright", 0, 1),
        Control<kMp3, &TMp3Options::CRC>("MP3CRC", 0, 1),
        Radio<kMp3, &TMp3Options::CBR, &TMp3Options::VBR>("MP3CBR"),
        Control<kMp3, &TMp3Options::CBRBitrate>("MP3BitRate", 0, kLastBitrate).Shown(BitrateFromIndex, "kbit/s"),
        Control<kMp3, &TMp3Options::HQ>("MP3HQ", 0, 1),
        Radio<kMp3, &TMp3Options::VBR, &TMp3Options::CBR>("MP3VBR"),
        Control<kMp3, &TMp3Options::VBRMin>("MP3MinBitRate", 0, kLastBitrate).Shown(BitrateFromIndex, "kbit/s"),
        Control<kMp3, &TMp3Options::VBRMax>("MP3MaxBitRate", 0, kLastBitrate).Shown(BitrateFromIndex, "kbit/s"),
        Control<kMp3, &TMp3Options::TrackBar1>("MP3VBRQuality", 0, 9).Shown(Mp3Quality),
        Control<kOgg, &TOggOptions::OGGSamplerate>("OGGSamplerate", 0, kOggSamplerateCount - 1).Shown(OggSamplerateText, "Hz"),
        Control<kOgg, &TOggOptions::OGGChannels>("OGGChannels", 0, 1).Shown(Entry<kOggChannelNames>),
        Radio<kOgg, &TOggOptions::OGGQ, &TOggOptions::BitrateManager>("OGGQuality"),
        Control<kOgg, &TOggOptions::TrackBar2>("OGGQualitySel", kOggMinQuality, kOggMaxQuality).Shown(nullptr, "", "oggenc's quality"),
        Radio<kOgg, &TOggOptions::BitrateManager, &TOggOptions::OGGQ>("OGGBitrateManager"),
        Control<kOgg, &TOggOptions::OGGNominal>("OGGNominal", 0, kLastBitrate).Shown(BitrateFromIndex, "kbit/s"),
        Control<kOgg, &TOggOptions::OGGVBR>("OGGVBR", 0, 1),
        Control<kOgg, &TOggOptions::OGGMin>("OGGMin", 0, kLastBitrate).Shown(BitrateFromIndex, "kbit/s"),
        Control<kOgg, &TOggOptions::OGGMax>("OGGMax", 0, kLastBitrate).Shown(BitrateFromIndex, "kbit/s"),
        Control<kWav, &TWavOptions::WAVSamplerate>("WAVSamplerate", 0,
                                                   static_cast<int>(kWavSamplerates.size()) - 1)
            .Shown(Entry<kWavSamplerates>, "Hz"),
        Control<kWav, &TWavOptions::WAVChannels>("WAVChannels", 0, 1).Shown(Entry<kWavChannelNames>),
        Control<kWav, &TWavOptions::cbNormalize>("WAVNormalize", 0, 1),
        Control<kWav, &TWavOptions::WAVbps>("WAVbps", 0, 1).Shown(Entry<kWavBitsNames>),
        Control<kWma, &TWmaOptions::WMASamplerate>("WMASamplerate", 0,
                                                   static_cast<int>(kWmaSamplerates.size()) - 1)
            .Shown(Entry<kWmaSamplerates>, "Hz"),
        Control<kWma, &TWmaOptions::WMAChannels>("WMAChannels", 0, 1).Shown(Entry<kWmaChannelNames>),
        // An index past the list of the chosen rate and channels is taken here and gives a
        // clear error when the item is converted, as an empty list on the page does.
        Control<kWma, &TWmaOptions::WMABitrate>("WMABitrate", 0, kWmaMaxBitrates - 1)
            .Shown(WmaDefaultBitrate, "",
                   "the list shown is the one for 44100 Hz stereo; it follows WMASamplerate and WMAChannels"),
        Control<kFlac, &TFlacOptions::FLACMyTrackBar>("FLACMyTrackBar", 0, kFlacMaxLevel).Shown(nullptr, "", "compression level"),
        Control<kFlac, &TFlacOptions::FLACLax>("FLACLax", 0, 1),
        Control<kApe, &TApeOptions::APEMyTrackBar>("APEMyTrackBar", kApeMinPosition, kApeMaxPosition)
            .Shown(Entry<kApePositionNames, kApeMinPosition>),
        Control<kMpc, &TMpcOptions::MPCMyTrackBar>("MPCMyTrackBar", kMpcMinProfile, kMpcMaxProfile).Shown(MpcProfileSwitch),
        Apart(Control<kWv, &TWavPackOptions::WVMode>("WVMode", 0, kWavPackMaxMode).Shown(Entry<kWavPackModeNames>)),
        Apart(Control<kWv, &TWavPackOptions::WVHybrid>("WVHybrid", 0, 1)),
        Apart(Control<kWv, &TWavPackOptions::WVBits>("WVBits", kWavPackMinBits, kWavPackMaxBits).Shown(WavPackBitsText, "bits per sample")),
        Apart(Control<kWv, &TWavPackOptions::WVCorrection>("WVCorrection", 0, 1)),
        Apart(Control<kOpus, &TOpusOptions::OPUSBitrate>("OPUSBitrate", kOpusMinBitrate, kOpusMaxBitrate).Shown(nullptr, "kbit/s")),
        Apart(Control<kOpus, &TOpusOptions::OPUSMode>("OPUSMode", 0, kOpusMaxMode).Shown(Entry<kOpusModeNames>)),
        Apart(Control<kOpus, &TOpusOptions::OPUSComplexity>("OPUSComplexity", 0, kOpusMaxComplexity).Shown(nullptr, "", "encoder complexity")),
        Apart(Control<kAac, &TAacOptions::AACBitrate>("AACBitrate", kAacMinBitrate, kAacMaxBitrate).Shown(nullptr, "kbit/s")),
    };
    return slots;
}

const TOptionSlot* FindSlot(std::string_view name) {
    for (const auto& slot : Slots())
        if (name == slot.Name)
            return &slot;
    return nullptr;
}

} // namespace

bool SetEncoderOption(TEncoderOptions& options, std::string_view name, std::string_view value,
                      std::string* error) {
    const TOptionSlot* slot = FindSlot(name);
    if (!slot) {
        if (error)
            *error = "unknown option value name '" + std::string(name) + "'";
        return false;
    }
    int v = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
    if (ec != std::errc() || end != value.data() + value.size() || v < slot->Min || v > slot->Max) {
        if (error)
            *error = std::string(name) + " takes a whole number from " + std::to_string(slot->Min) +
                     " to " + std::to_string(slot->Max) + ", not '" + std::string(value) + "'";
        return false;
    }
    slot->Set(options, v);
    return true;
}

std::vector<std::string> EncoderOptionNames() {
    std::vector<std::string> names;
    for (const auto& slot : Slots())
        names.emplace_back(slot.Name);
    return names;
}

bool IsApartOption(std::string_view name) {
    const TOptionSlot* slot = FindSlot(name);
    return slot && slot->Apart;
}

std::optional<int> EncoderOptionValue(const TEncoderOptions& options, std::string_view name) {
    const TOptionSlot* slot = FindSlot(name);
    if (!slot)
        return std::nullopt;
    return slot->Get(options);
}

std::optional<std::pair<int, int>> EncoderOptionRange(std::string_view name) {
    const TOptionSlot* slot = FindSlot(name);
    if (!slot)
        return std::nullopt;
    return std::pair{slot->Min, slot->Max};
}

std::vector<TEncoderOptionInfo> EncoderOptionInfos() {
    // The page is the one whose prefix the name carries, in the order of the pages.
    constexpr std::array<const char*, kEncoderPageNames.size()> prefixes{
        "MP3", "OGG", "WAV", "WMA", "FLAC", "APE", "MPC", "WV", "OPUS", "AAC"};
    const TEncoderOptions defaults;
    std::vector<TEncoderOptionInfo> infos;
    for (const TOptionSlot& slot : Slots()) {
        TEncoderOptionInfo info{slot.Name, "", slot.Min, slot.Max, slot.Get(defaults), {}, slot.Unit, slot.Note};
        for (size_t i = 0; i < prefixes.size(); ++i)
            if (std::string_view(slot.Name).starts_with(prefixes[i]))
                info.Page = kEncoderPageNames[i];
        if (slot.Text)
            for (int v = slot.Min; v <= slot.Max; ++v)
                info.Texts.push_back(slot.Text(v));
        infos.push_back(std::move(info));
    }
    return infos;
}

} // namespace bw
