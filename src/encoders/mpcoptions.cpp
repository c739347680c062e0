#include "encoders/mpcoptions.h"

#include "encoders/cdcodes.h"
#include "encoders/releasetags.h"
#include "tags/apetag.h"

#include <array>

namespace bw {

namespace {

struct TProfile {
    const char* Switch;
    const char* Text;
};

constexpr std::array<TProfile, kMpcMaxProfile> kProfiles{{
    {"--telephone", "Telephone - lowest quality, (typ. 32...48 kbps)"},
    {"--thumb", "Thumb - low quality/internet, (typ. 58...86 kbps)"},
    {"--radio", "Radio - medium (MP3) quality (typ. 112...152 kbps)"},
    {"--standard", "Standard - high quality (typ. 142...184 kbps)"},
    {"--xtreme", "Xtreme - xtreme high quality (typ. 168...212 kbps)"},
    {"--insane", "Insane - xtreme high quality (typ. 232...268 kbps)"},
    {"--braindead", "Braindead - xtreme high quality (typ. 232...278 kbps)"},
}};

const TProfile* ProfileAt(int position) {
    if (position < kMpcMinProfile || position > kMpcMaxProfile)
        return nullptr;
    return &kProfiles[static_cast<size_t>(position - kMpcMinProfile)];
}

} // namespace

std::string MpcProfileSwitch(int position) {
    const TProfile* p = ProfileAt(position);
    return p ? p->Switch : "";
}

std::string MpcProfileText(int position) {
    const TProfile* p = ProfileAt(position);
    return p ? p->Text : "";
}

int MpcSampleRate(int sourceRate) {
    for (const int rate : {32000, 37800, 44100})
        if (sourceRate <= rate)
            return rate;
    return 48000;
}

TCommandLine BuildMpcOptions(const TMpcOptions& o, const TmyMusicFile& item) {
    TCommandLine line;
    line.Add(MpcProfileSwitch(o.MPCMyTrackBar));
    const std::string track = std::to_string(item.Track);
    line.AddNamedValues(" --tag ", {{"Title=", item.Title},
                                    {"Artist=", item.Artist},
                                    {"Album=", item.Album},
                                    {"Comment=", item.Comment},
                                    {"Year=", item.Year},
                                    {"Track=", track},
                                    {"Genre=", item.Genre}});
    for (const auto& [name, value] : CdCodeTags(item, "ISRC=", "Barcode="))
        line.Add(" --tag ").AddQuoted(name, value);
    for (const auto& [name, value] : ReleaseTags(item, kApeReleaseNames))
        line.Add(" --tag ").AddQuoted("", name + "=" + value);
    return line;
}

} // namespace bw
