#pragma once

#include "audio/playerstream.h"
#include "core/jobitem.h"

#include <memory>
#include <string>

namespace bw {

class TCdDriveList;

// Opens a job item for the player. A CD track plays from the drive it was listed from (the
// drive recorded in the item), whichever drive is chosen now; anything else plays from its
// file. Null when it cannot be opened, with *why when the CD drive says why.
std::unique_ptr<TPlayerStream> OpenPlayerStream(const TmyMusicFile& item, TCdDriveList& drives,
                                                TAudioError* error = nullptr,
                                                std::string* why = nullptr);

} // namespace bw
