#include "encoders/targettype.h"

#include <array>
#include <cctype>

namespace bw {

namespace {

struct TTargetInfo {
    const char* Name;
    const char* Extension;
};

constexpr std::array<TTargetInfo, kTargetTypeCount> kTargets{{
    {"MP3", ".mp3"},
    {"OGG", ".ogg"},
    {"WAV", ".wav"},
    {"WMA", ".wma"},
    {"FLAC", ".flac"},
    {"Monkey's Audio", ".ape"},
    {"MusePack", ".mpc"},
    {"WavPack", ".wv"},
    {"Opus", ".opus"},
    {"AAC (M4A)", ".m4a"},
}};

const TTargetInfo& InfoOf(TTargetType t) { return kTargets[static_cast<size_t>(t)]; }

} // namespace

std::string TargetName(TTargetType t) { return InfoOf(t).Name; }

std::string TargetExtension(TTargetType t) { return InfoOf(t).Extension; }

std::optional<TTargetType> TargetTypeFromName(std::string_view name) {
    std::string lower;
    for (const char c : name)
        lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    for (int i = 0; i < kTargetTypeCount; ++i) {
        if ("." + lower == kTargets[static_cast<size_t>(i)].Extension)
            return static_cast<TTargetType>(i);
    }
    return std::nullopt;
}

bool IsExternalEncoderTarget(TTargetType t) {
    return t == TTargetType::Mp3 || t == TTargetType::Ogg || t == TTargetType::Flac ||
           t == TTargetType::Mpc || t == TTargetType::WavPack || t == TTargetType::Opus;
}

} // namespace bw
