#include "encoders/flacoptions.h"

#include <string>

namespace bw {

TCommandLine BuildFlacOptions(const TFlacOptions& o, const TmyMusicFile& item) {
    TCommandLine line;
    line.Add("-f -" + std::to_string(o.FLACMyTrackBar));
    if (o.FLACLax)
        line.Add(" --lax");
    line.Add(" -T ").AddQuoted("Title=", item.Title);
    line.Add(" -T ").AddQuoted("Artist=", item.Artist);
    line.Add(" -T ").AddQuoted("Album=", item.Album);
    line.Add(" -T ").AddQuoted("Comment=", item.Comment);
    line.Add(" -T ").AddQuoted("Date=", item.Year);
    line.Add(" -T ").AddQuoted("TrackNumber=", std::to_string(item.Track));
    line.Add(" -T ").AddQuoted("Genre=", item.Genre);
    return line;
}

} // namespace bw
