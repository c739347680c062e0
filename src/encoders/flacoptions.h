#pragma once

#include "core/jobitem.h"
#include "encoders/commandline.h"

namespace bw {

// Every control of the FLAC page, with the page's defaults.
struct TFlacOptions {
    int FLACMyTrackBar = 5; // compression level 0..8
    bool FLACLax = true;
};

inline constexpr int kFlacMaxLevel = 8;

// The options flac gets before "-o": the level, --lax and the item's tags.
TCommandLine BuildFlacOptions(const TFlacOptions& o, const TmyMusicFile& item);

} // namespace bw
