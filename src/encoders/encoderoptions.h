#pragma once

#include "encoders/aacoptions.h"
#include "encoders/apeoptions.h"
#include "encoders/flacoptions.h"
#include "encoders/mp3options.h"
#include "encoders/mpcoptions.h"
#include "encoders/oggoptions.h"
#include "encoders/opusoptions.h"
#include "encoders/wavoptions.h"
#include "encoders/wavpackoptions.h"
#include "encoders/wmaoptions.h"

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <string_view>
#include <vector>

namespace bw {

// The encoder option pages, as their tabs name them.
inline constexpr std::array<const char*, 10> kEncoderPageNames{
    "MP3", "OGG", "WAV", "WMA", "FLAC", "APE", "MusePack", "WavPack", "Opus", "AAC"};

// The state of the encoder option pages the outside encoders read, with the pages' defaults.
struct TEncoderOptions {
    TMp3Options Mp3;
    TOggOptions Ogg;
    TWavOptions Wav;
    TWmaOptions Wma;
    TFlacOptions Flac;
    TApeOptions Ape;
    TMpcOptions Mpc;
    TWavPackOptions WavPack;
    TOpusOptions Opus;
    TAacOptions Aac;
};

// Sets one control by the value name a quality preset stores it under ("MP3BitRate",
// "OGGQualitySel", "FLACMyTrackBar", ...): a list index, a slider position, or 0/1 for a
// check box or radio button. Setting one radio button of a pair clears the other, as on
// the page. False, with the reason in *error, for an unknown name or a value the control
// cannot take.
bool SetEncoderOption(TEncoderOptions& options, std::string_view name, std::string_view value,
                      std::string* error);

// The value names SetEncoderOption knows, in the order the presets store them: the ordered
// values of the first pages, then the values added with the WavPack, Opus and AAC pages,
// which older presets lack (see IsApartOption).
std::vector<std::string> EncoderOptionNames();
// Whether a value name is one of those added later: a preset without it still loads, and the
// control takes its page's default.
bool IsApartOption(std::string_view name);

// The value a control holds, by its value name, as a preset stores it (a list index, a
// slider position, 0/1); nothing for an unknown name.
std::optional<int> EncoderOptionValue(const TEncoderOptions& options, std::string_view name);

// The range a named control takes; nothing for an unknown name.
std::optional<std::pair<int, int>> EncoderOptionRange(std::string_view name);

// What a value name stands for, as the help of the command line shows it: its page, the
// positions it takes, the page's default, and what each position selects.
struct TEncoderOptionInfo {
    std::string Name;
    std::string Page; // one of kEncoderPageNames
    int Min = 0;
    int Max = 0;
    int Default = 0;
    // The meaning of each position Min..Max ("128", "Joint Stereo", "off"); empty when the
    // number is its own meaning (a level, a bit rate).
    std::vector<std::string> Texts;
    std::string Unit; // of the texts or the number: "kbit/s", "Hz", or empty
    std::string Note; // what else a reader must know, or empty
};

// Every value name SetEncoderOption knows, described, in EncoderOptionNames' order.
std::vector<TEncoderOptionInfo> EncoderOptionInfos();

} // namespace bw
