#pragma once

#include "core/jobitem.h"

class QWidget;

namespace bw {

// Shows a file's properties: the file manager's own properties window when one offers it
// over D-Bus, otherwise a window of ours with what the job item knows of the file.
void ShowFileProperties(const TmyMusicFile& item, QWidget* parent);

} // namespace bw
