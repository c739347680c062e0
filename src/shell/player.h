#pragma once

#include "audio/playerstream.h"
#include "core/jobitem.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace bw {

// The rows the player works on: how many there are, which one is selected (-1: none) and
// the job item of each.
struct TPlayerRows {
    int Count = 0;
    int Selected = -1;
    std::function<const TmyMusicFile*(int row)> ItemAt;
};

// The media player without its widgets: one stream of its own (never the conversion's),
// the job it plays, the volume, and the position bar's numbers. The window shows what this
// says and passes the user's commands on; all calls come from the user-interface thread.
class TMediaPlayer {
public:
    // Opens a job for playback; null when it cannot be played (the player then stays
    // silent, without a message).
    using TOpener = std::function<std::unique_ptr<TPlayerStream>(const TmyMusicFile&)>;
    static constexpr int kVolumeStep = 10;
    static constexpr uint64_t kSeekThreshold = 1000; // bytes of decoded audio

    explicit TMediaPlayer(TOpener opener);
    ~TMediaPlayer();
    TMediaPlayer(const TMediaPlayer&) = delete;
    TMediaPlayer& operator=(const TMediaPlayer&) = delete;

    // Resumes a paused stream (whichever row is selected now); otherwise plays the selected
    // row, when there is one.
    void Play(const TPlayerRows& rows);
    void Pause();
    // Stops and rewinds.
    void Stop();
    // Plays the row after (or before) the selected one; returns that row, which the window
    // then selects, or -1 when there is none (no selection, or already the last or first).
    int PlayNext(const TPlayerRows& rows);
    int PlayPrev(const TPlayerRows& rows);
    // Plays a job: the previous stream goes, a new one is opened and started.
    void PlayJob(const TmyMusicFile& job);

    // The volume knob's position, 0..100, applied to the stream at once.
    void SetVolume(int volume);
    int Volume() const { return volume_; }
    // The knob position after a Volume Up or Down step, kept within 0..100.
    static int SteppedVolume(int volume, int delta);

    // The position bar. Its range is an int, yet decoded audio of a few hours passes
    // 2^31 bytes: the bar counts in units of BarUnit() bytes, and everything it says is
    // turned back into bytes before the player compares or seeks.
    int BarMaximum() const;
    int BarPosition() const;
    uint64_t BarUnit() const { return barUnit_; }
    // The bar was moved to value (by the user or by the timer): seeks there when it is more
    // than 1000 bytes away from where the stream is. Returns whether it sought.
    bool BarMoved(int value);

    // The 500 ms update: a stream that has stopped is rewound to 0. Returns the state.
    TPlayState Tick();
    TPlayState State() const;
    // " Media Player: " + the state's text.
    static std::string StatusText(TPlayState state);

    bool HasStream() const { return stream_ != nullptr; }
    TPlayerStream* Stream() { return stream_.get(); }
    const TmyMusicFile& PlayerJob() const { return playerJob_; }

private:
    int ToBar(uint64_t bytes) const;

    TOpener opener_;
    std::unique_ptr<TPlayerStream> stream_;
    TmyMusicFile playerJob_;
    int volume_ = 50;
    uint64_t barUnit_ = 1;
};

} // namespace bw
