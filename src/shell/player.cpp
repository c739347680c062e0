#include "shell/player.h"

#include <algorithm>
#include <climits>

namespace bw {

TMediaPlayer::TMediaPlayer(TOpener opener) : opener_(std::move(opener)) {}

TMediaPlayer::~TMediaPlayer() = default;

void TMediaPlayer::Play(const TPlayerRows& rows) {
    if (stream_ && stream_->State() == TPlayState::Paused) {
        stream_->Play(false);
        return;
    }
    if (rows.Count <= 0 || rows.Selected < 0 || rows.Selected >= rows.Count)
        return;
    if (const TmyMusicFile* item = rows.ItemAt(rows.Selected))
        PlayJob(*item);
}

void TMediaPlayer::Pause() {
    if (stream_)
        stream_->Pause();
}

void TMediaPlayer::Stop() {
    if (!stream_)
        return;
    stream_->Stop();
    stream_->Seek(0);
}

int TMediaPlayer::PlayNext(const TPlayerRows& rows) {
    if (rows.Selected < 0 || rows.Selected + 1 >= rows.Count)
        return -1;
    const int next = rows.Selected + 1;
    if (const TmyMusicFile* item = rows.ItemAt(next))
        PlayJob(*item);
    return next;
}

int TMediaPlayer::PlayPrev(const TPlayerRows& rows) {
    if (rows.Selected <= 0 || rows.Selected >= rows.Count)
        return -1;
    const int prev = rows.Selected - 1;
    if (const TmyMusicFile* item = rows.ItemAt(prev))
        PlayJob(*item);
    return prev;
}

void TMediaPlayer::PlayJob(const TmyMusicFile& job) {
    playerJob_ = job;
    stream_.reset(); // the old stream's output closes before the new one opens
    stream_ = opener_(playerJob_);
    if (!stream_) {
        barUnit_ = 1;
        return;
    }
    // Bar units: the smallest whole number of bytes that keeps the length within an int.
    const uint64_t length = stream_->LengthBytes();
    barUnit_ = std::max<uint64_t>(1, (length + INT_MAX - 1) / INT_MAX);
    stream_->SetVolume(volume_);
    stream_->Play(false);
}

void TMediaPlayer::SetVolume(int volume) {
    volume_ = std::clamp(volume, 0, 100);
    if (stream_)
        stream_->SetVolume(volume_);
}

int TMediaPlayer::SteppedVolume(int volume, int delta) { return std::clamp(volume + delta, 0, 100); }

int TMediaPlayer::ToBar(uint64_t bytes) const {
    return static_cast<int>(std::min<uint64_t>(bytes / barUnit_, INT_MAX));
}

int TMediaPlayer::BarMaximum() const { return stream_ ? ToBar(stream_->LengthBytes()) : 0; }

int TMediaPlayer::BarPosition() const { return stream_ ? ToBar(stream_->Position()) : 0; }

bool TMediaPlayer::BarMoved(int value) {
    if (!stream_ || value < 0)
        return false;
    const uint64_t where = stream_->Position();
    // The timer puts the bar where the stream is, rounded down to a bar unit: that is no
    // move of the user's, however large the unit.
    if (value == ToBar(where))
        return false;
    const uint64_t target = static_cast<uint64_t>(value) * barUnit_;
    const uint64_t distance = target > where ? target - where : where - target;
    if (distance <= kSeekThreshold)
        return false;
    return stream_->Seek(target);
}

TPlayState TMediaPlayer::Tick() {
    const TPlayState state = State();
    if (stream_ && state == TPlayState::Stopped && stream_->Position() != 0)
        stream_->Seek(0);
    return state;
}

TPlayState TMediaPlayer::State() const { return stream_ ? stream_->State() : TPlayState::Stopped; }

std::string TMediaPlayer::StatusText(TPlayState state) {
    static constexpr const char* kTexts[] = {"Stopped", "Playing", "Stalled", "Paused"};
    const auto i = static_cast<size_t>(state);
    return std::string(" Media Player: ") + (i < std::size(kTexts) ? kTexts[i] : "Stopped");
}

} // namespace bw
