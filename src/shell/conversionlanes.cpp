#include "shell/conversionlanes.h"

#include "audio/audiostream.h"
#include "common/instancetemp.h"
#include "encoders/replaygain.h"

namespace bw {

void TLaneMailbox::Post(TConversionLane& lane, TLaneNote note) {
    {
        const std::lock_guard lock(mutex_);
        notes_.emplace_back(&lane, std::move(note));
    }
    posted_.notify_one();
}

std::vector<std::pair<TConversionLane*, TLaneNote>> TLaneMailbox::Take(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    posted_.wait_for(lock, timeout, [this] { return !notes_.empty(); });
    return std::exchange(notes_, {});
}

void TLaneMailbox::Hold(bool on) {
    {
        const std::lock_guard lock(mutex_);
        holds_ += on ? 1 : -1;
    }
    if (!on)
        released_.notify_all();
}

void TLaneMailbox::WaitWhileHeld() {
    if (holds_.load() == 0)
        return;
    std::unique_lock lock(mutex_);
    released_.wait(lock, [this] { return holds_.load() == 0; });
}

TConversionLane::TConversionLane(TLaneNoteSink& sink, TLaneMailbox* mailbox, int folderLane)
    : sink_(sink), mailbox_(mailbox), folderLane_(folderLane) {}

TConversionLane::~TConversionLane() {
    // The dispatcher ends every item before it lets a lane go; this only guards against
    // leaving a thread running should it ever not.
    if (worker_.joinable())
        worker_.join();
}

void TConversionLane::Start(size_t row, const TmyMusicFile& job, std::unique_ptr<TAudioStream> stream,
                            const TBackEnd& backEnd, bool carryCovers) {
    busy_ = true;
    carryCovers_ = carryCovers;
    row_ = row;
    job_ = job;
    stream_ = std::move(stream);
    cancel_ = false;
    percent_ = 0;
    meter_.reset();
    loudness_ = {};
    const auto convert = [this, &backEnd] {
        bool written = false;
        try {
            written = backEnd(*this);
            if (written)
                TagTrackLoudness();
        } catch (const std::exception& e) {
            // A back-end that throws ends its own item, never the run or another lane.
            FailItem(*this, "Can't convert \"" + job_.SourcePath + "\": " + e.what());
        }
        TLaneNote done;
        done.Kind = TLaneNote::TKind::Finished;
        done.Written = written;
        Post(std::move(done));
    };
    if (mailbox_)
        worker_ = std::thread(convert);
    else
        convert();
}

std::unique_ptr<TAudioStream> TConversionLane::End() {
    if (worker_.joinable())
        worker_.join();
    busy_ = false;
    return std::move(stream_);
}

void TConversionLane::MeasureLoudness(const TChannelInfo& info, std::span<const std::byte> pcm) {
    if (!loudnessTarget_)
        return;
    // A back-end measures only what it encodes; should the format change all the same, the
    // audio before it was not the output's.
    if (!meter_ || meter_->Info().SampleRate != info.SampleRate ||
        meter_->Info().Channels != info.Channels ||
        meter_->Info().BytesPerSample() != info.BytesPerSample() ||
        meter_->Info().ChannelMask != info.ChannelMask)
        meter_ = std::make_unique<TLoudnessMeter>(info);
    meter_->Add(pcm);
}

void TConversionLane::TagTrackLoudness() {
    if (!meter_ || !loudnessTarget_)
        return;
    loudness_ = meter_->Finish();
    if (!tagsTrack_)
        return;
    std::string error;
    if (!AddLoudnessTags(*loudnessTarget_, job_.TargetPath,
                         LoudnessTagItems(*loudnessTarget_, loudness_, false), error))
        AddNote("The ReplayGain tags could not be written: " + error);
}

void TConversionLane::Post(TLaneNote note) {
    if (mailbox_)
        mailbox_->Post(*this, std::move(note));
    else
        sink_.CarryOut(*this, std::move(note));
}

void TConversionLane::SetStatus(const std::string& status) {
    TLaneNote note;
    note.Text = status;
    Post(std::move(note));
}

void TConversionLane::SetItemPercent(int percent) {
    percent_.store(percent, std::memory_order_relaxed);
    // A threaded lane's gauge is read by the dispatcher on its own rounds.
    if (!mailbox_)
        sink_.LanePercentChanged(*this);
}

void TConversionLane::AddNote(const std::string& note) {
    TLaneNote n;
    n.Kind = TLaneNote::TKind::Note;
    n.Text = note;
    Post(std::move(n));
}

void TConversionLane::ProcessEvents() {
    if (mailbox_)
        mailbox_->WaitWhileHeld();
    else
        sink_.ProcessEvents();
}

std::string TConversionLane::TemporaryFolder(std::string* why) {
    return LaneTemporaryFolder(folderLane_, why);
}

void TConversionLane::TLaneDialogs::Show(TMessageKind kind, const std::string& caption,
                                         const std::string& text) {
    TLaneNote note;
    note.Kind = TLaneNote::TKind::Message;
    note.MessageKind = kind;
    note.Caption = caption;
    note.Text = text;
    lane_.Post(std::move(note));
}

TAnswer TConversionLane::TLaneDialogs::Ask(TMessageKind kind, const std::string& caption,
                                           const std::string& text, const std::vector<TAnswer>& buttons) {
    std::promise<TAnswer> answer;
    auto future = answer.get_future();
    TLaneNote note;
    note.Kind = TLaneNote::TKind::Question;
    note.MessageKind = kind;
    note.Caption = caption;
    note.Text = text;
    note.Buttons = buttons;
    note.Answer = &answer;
    lane_.Post(std::move(note));
    return future.get();
}

} // namespace bw
