#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bw {

// The entries of the target type list; the number is also the index of the encoder
// options page.
enum class TTargetType : int {
    Mp3 = 0,
    Ogg = 1,
    Wav = 2,
    Wma = 3,
    Flac = 4,
    Ape = 5,
    Mpc = 6,
    WavPack = 7,
    Opus = 8,
    Aac = 9,
};

inline constexpr int kTargetTypeCount = 10;

// The list entry ("MP3", "OGG", ..., "AAC (M4A)").
std::string TargetName(TTargetType t);
// The output extension with its dot (".mp3").
std::string TargetExtension(TTargetType t);
// From a name as typed on a command line: the extension without its dot ("mp3", "ogg"),
// in any letter case ("wv", "opus", "m4a" for the newer three).
std::optional<TTargetType> TargetTypeFromName(std::string_view name);
// Whether the outside encoder runner writes this target.
bool IsExternalEncoderTarget(TTargetType t);

} // namespace bw
