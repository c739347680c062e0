#pragma once

#include "audio/playerstream.h"

#include <array>

class QLabel;
class QStatusBar;

namespace bw {

// The panels of the main window's status bar: the files listed, the files checked, the
// player's state, the volume, and one left free.
class TStatusPanels {
public:
    // The panels are made in bar, which owns them.
    explicit TStatusPanels(QStatusBar& bar);

    void ShowCounts(int files, int checked);
    void ShowPlayState(TPlayState state);
    void ShowVolume(int volume);

private:
    std::array<QLabel*, 5> panels_{};
};

} // namespace bw
