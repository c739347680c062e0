#include "encoders/opusoptions.h"

#include "encoders/cdcodes.h"
#include "encoders/releasetags.h"
#include "tags/vorbiscomment.h"

#include <string>

namespace bw {

TCommandLine BuildOpusOptions(const TOpusOptions& o, const TmyMusicFile& item,
                              const std::string& picture) {
    static constexpr std::array<const char*, 3> kModeSwitch{" --vbr", " --cvbr", " --hard-cbr"};
    TCommandLine line;
    line.Add("--quiet --bitrate " + std::to_string(o.OPUSBitrate));
    if (o.OPUSMode >= 0 && o.OPUSMode <= kOpusMaxMode)
        line.Add(kModeSwitch[static_cast<size_t>(o.OPUSMode)]);
    line.Add(" --comp " + std::to_string(o.OPUSComplexity));
    line.Add(" --title ").AddQuoted("", item.Title);
    line.Add(" --artist ").AddQuoted("", item.Artist);
    line.Add(" --album ").AddQuoted("", item.Album);
    line.Add(" --genre ").AddQuoted("", item.Genre);
    line.Add(" --date ").AddQuoted("", item.Year);
    line.Add(" --tracknumber ").AddQuoted("", std::to_string(item.Track));
    line.Add(" --comment ").AddQuoted("", "COMMENT=" + item.Comment);
    for (const auto& [name, value] : CdCodeTags(item, "ISRC=", "BARCODE="))
        line.Add(" --comment ").AddQuoted("", name + value);
    for (const auto& [name, value] : ReleaseTags(item, kVorbisReleaseNames))
        line.Add(" --comment ").AddQuoted("", name + "=" + value);
    // The full form (front cover, the type and size read from the file), so that a "|" in
    // the folder's name cannot be taken for a field of it: the file name is the last field.
    if (!picture.empty())
        line.Add(" --picture ").AddQuoted("", "3||||" + picture);
    return line;
}

} // namespace bw
