#include "encoders/oggoptions.h"

#include "encoders/cdcodes.h"
#include "encoders/mp3options.h"
#include "encoders/releasetags.h"
#include "tags/vorbiscomment.h"

#include <array>
#include <cmath>

namespace bw {

namespace {

constexpr std::array<int, kOggSamplerateCount> kSamplerates{48000, 44100, 32000, 24000, 22050,
                                                            16000, 12000, 11025, 8000};
// Nominal kbps of the quality positions -1..10, for the estimate only.
constexpr std::array<int, 12> kNominalKbps{45, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 500};
constexpr int kUnknownQualityKbps = 128;
constexpr double kReferenceRate = 44100.0;

} // namespace

std::string OggSamplerateText(int index) {
    if (index < 0 || index >= kOggSamplerateCount)
        return {};
    return std::to_string(kSamplerates[static_cast<size_t>(index)]);
}

TCommandLine BuildOggOptions(const TOggOptions& o, const TmyMusicFile& item) {
    TCommandLine line;
    if (o.OGGChannels == 1)
        line.Add(" --downmix");
    line.Add(" --resample " + OggSamplerateText(o.OGGSamplerate));
    if (o.OGGQ) {
        line.Add(" -q " + std::to_string(o.TrackBar2));
    } else {
        line.Add(" -b " + BitrateFromIndex(o.OGGNominal));
        if (o.OGGVBR)
            line.Add(" -m " + BitrateFromIndex(o.OGGMin) + " -M " + BitrateFromIndex(o.OGGMax));
    }
    line.Add(" -o ").AddQuoted("", item.TargetPath);
    line.Add(" -t ").AddQuoted("", item.Title);
    line.Add(" -a ").AddQuoted("", item.Artist);
    line.Add(" -l ").AddQuoted("", item.Album);
    line.Add(" -G ").AddQuoted("", item.Genre);
    line.Add(" -N ").AddQuoted("", std::to_string(item.Track));
    line.Add(" -d ").AddQuoted("", item.Year);
    line.Add(" -c ").AddQuoted("", "Comment=" + item.Comment);
    for (const auto& [name, value] : CdCodeTags(item, "ISRC=", "BARCODE="))
        line.Add(" -c ").AddQuoted(name, value);
    for (const auto& [name, value] : ReleaseTags(item, kVorbisReleaseNames))
        line.Add(" -c ").AddQuoted("", name + "=" + value);
    line.Add(" -");
    return line;
}

std::string OggQualityLabel(const TOggOptions& o) {
    const int slot = o.TrackBar2 - kOggMinQuality;
    const int kbps = slot >= 0 && slot < static_cast<int>(kNominalKbps.size())
                         ? kNominalKbps[static_cast<size_t>(slot)]
                         : kUnknownQualityKbps;
    // An unselected rate list estimates at the reference rate.
    const int rate = o.OGGSamplerate >= 0 && o.OGGSamplerate < kOggSamplerateCount
                         ? kSamplerates[static_cast<size_t>(o.OGGSamplerate)]
                         : static_cast<int>(kReferenceRate);
    // Halves round to even, as the page has always shown them.
    const double estimate = std::nearbyint(kbps * (rate / kReferenceRate));
    return std::to_string(o.TrackBar2) + " (~" + std::to_string(static_cast<long>(estimate)) +
           " kbps)";
}

} // namespace bw
