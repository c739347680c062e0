#include "encoders/flacoptions.h"

#include "encoders/cdcodes.h"
#include "encoders/releasetags.h"
#include "tags/vorbiscomment.h"

#include <string>

namespace bw {

TCommandLine BuildFlacOptions(const TFlacOptions& o, const TmyMusicFile& item) {
    TCommandLine line;
    line.Add("-f -" + std::to_string(o.FLACMyTrackBar));
    if (o.FLACLax)
        line.Add(" --lax");
    const std::string track = std::to_string(item.Track);
    line.AddNamedValues(" -T ", {{"Title=", item.Title},
                                 {"Artist=", item.Artist},
                                 {"Album=", item.Album},
                                 {"Comment=", item.Comment},
                                 {"Date=", item.Year},
                                 {"TrackNumber=", track},
                                 {"Genre=", item.Genre}});
    for (const auto& [name, value] : CdCodeTags(item, "ISRC=", "BARCODE="))
        line.Add(" -T ").AddQuoted(name, value);
    for (const auto& [name, value] : ReleaseTags(item, kVorbisReleaseNames))
        line.Add(" -T ").AddQuoted("", name + "=" + value);
    return line;
}

} // namespace bw
