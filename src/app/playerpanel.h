#pragma once

#include "shell/player.h"

#include <QGroupBox>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>

class QAction;
class QDial;
class QSlider;

namespace bw {

class TJobListView;

// The "Media Player" group of the main window: the player's buttons, the position bar and
// the volume knob, over the widget-free player, which plays the rows of the job list.
class TPlayerPanel : public QGroupBox {
    Q_OBJECT

public:
    // action: finds the window's command of a name, for the panel's buttons.
    TPlayerPanel(TMediaPlayer::TOpener opener, TJobListView& list,
                 const std::function<QAction*(std::string_view name)>& action, QWidget* parent);
    ~TPlayerPanel() override;

    TMediaPlayer& Player() { return *player_; }
    // The stream goes before the audio output it plays through: the window closes the
    // player before it frees the output.
    void ClosePlayer() { player_.reset(); }

    void Play();
    // Plays the row after (delta > 0) or before the selected one and selects it.
    void PlayNext(int delta);
    void Stop();
    int Volume() const;
    void SetVolume(int volume);
    // Volume Up and Down.
    void VolumeStep(int delta);
    // The 500 ms update; the player's state, none once the player is closed.
    std::optional<TPlayState> Tick();

private:
    TPlayerRows Rows();
    void BarSync();

    std::unique_ptr<TMediaPlayer> player_;
    TJobListView& list_;
    // Owned by Qt's parent chain.
    QSlider* positionBar_ = nullptr;
    QDial* volumeKnob_ = nullptr;
};

} // namespace bw
