#pragma once

#include "core/jobitem.h"
#include "encoders/commandline.h"

#include <string>

namespace bw {

// Every control of the MusePack page, with the page's default.
struct TMpcOptions {
    int MPCMyTrackBar = 4; // profile 1..7, "--standard"
};

inline constexpr int kMpcMinProfile = 1;
inline constexpr int kMpcMaxProfile = 7;

// The profile switch of a slider position ("--standard"); empty outside 1..7.
std::string MpcProfileSwitch(int position);
// The description the page shows for a slider position; empty outside 1..7 (the page then
// keeps the text it had).
std::string MpcProfileText(int position);

// mpcenc takes 32, 37.8, 44.1 and 48 kHz only. The rate a source of sourceRate is given to
// it at: its own when it is one of them, else the nearest of them above it (48 kHz for
// anything past 48 kHz).
int MpcSampleRate(int sourceRate);

// The options mpcenc gets after "--overwrite": the profile and the item's tags.
TCommandLine BuildMpcOptions(const TMpcOptions& o, const TmyMusicFile& item);

} // namespace bw
