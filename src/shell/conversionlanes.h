#pragma once

// Conversion lanes: a run that converts up to ParallelJobs checked rows at once.
//
// Every back-end stays the straight-line loop it is (pull a block from the stream, push it
// into the encoder or writer); lanes change who drives it.
//
// - A lane owns what one item needs and nothing shared: its copy of the job item, its
//   decoding stream, its cancel flag and percent, and its working folder (a sub-folder of
//   the instance folder, so temp.wav and its kin keep their names). The back-end's encoder
//   process or pipeline writer lives in the back-end's frame on the lane's thread.
// - With one lane the back-end runs on the run's own thread, calling the window between
//   blocks as it always did: a run of one lane is the one-file-at-a-time run, step for
//   step. With more, each item gets a worker thread; the run's thread becomes the
//   dispatcher. The worker's time goes into decoding (in-process work that must not sit on
//   the window's thread) and into writes to an encoder that is busy in its own process, so
//   the thread costs little; the window's thread only waits a few milliseconds at a time
//   for the lanes' notes, between passes through the window's events.
// - A lane never touches the rows, the observer or the message boxes: it posts notes
//   (status, message, question, finished) that the dispatcher carries out in order. Its
//   percent is a number the dispatcher reads when it shows the gauge. A question waits for
//   its answer; otherwise a lane only waits while the user is asked whether to cancel (see
//   TLaneMailbox::Hold).
// - Everything shared is decided by the dispatcher before a lane starts: the target name,
//   the output folders, the overwrite question. A row whose target another row of the run
//   reads or writes is refused, and CD rows take the drive one at a time, so that every
//   row sees what it would have seen after the rows before it.

#include "audio/loudness.h"
#include "core/dialogs.h"
#include "core/jobitem.h"
#include "encoders/itemcontext.h"
#include "encoders/targettype.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace bw {

class TAudioStream;
class TConversionLane;

// What a lane asks the dispatcher to do for its row.
struct TLaneNote {
    enum class TKind { Status, Message, Question, Note, Finished };
    TKind Kind = TKind::Status;
    TMessageKind MessageKind = TMessageKind::Information;
    std::string Caption = {};
    std::string Text = {}; // the status, the message's text or the note
    std::vector<TAnswer> Buttons = {};
    std::promise<TAnswer>* Answer = nullptr; // Question: set by the dispatcher
    bool Written = false;                    // Finished: the back-end's result
};

// Carries the lane notes out; the dispatcher of the run.
class TLaneNoteSink {
public:
    virtual ~TLaneNoteSink() = default;
    virtual void CarryOut(TConversionLane& lane, TLaneNote note) = 0;
    // The window between the blocks of a lane on the sink's own thread.
    virtual void ProcessEvents() = 0;
    // The item gauge, when the lane is the one shown.
    virtual void LanePercentChanged(TConversionLane& lane) = 0;
};

// The notes of every threaded lane, in the order they were posted, and the hold that keeps
// the lanes where they are while the dispatcher waits on the user.
class TLaneMailbox {
public:
    void Post(TConversionLane& lane, TLaneNote note);
    // Waits until something is posted or timeout passes, then takes everything posted.
    std::vector<std::pair<TConversionLane*, TLaneNote>> Take(std::chrono::milliseconds timeout);

    // Set by the dispatcher: while on, every threaded lane stops at its next block. Holds
    // nest (a question asked while another is open): the lanes go on when the last ends.
    void Hold(bool on);
    // Called by a lane between blocks: returns at once unless held, else when released.
    void WaitWhileHeld();

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::vector<std::pair<TConversionLane*, TLaneNote>> notes_;
    std::atomic<int> holds_{0}; // read without the lock on every block
    std::condition_variable released_;
};

// A back-end writes the current item's TargetPath from the conversion stream; true only
// when the output is complete. It sets "Error" or the cancel text itself.
using TBackEnd = std::function<bool(TItemContext&)>;

class TConversionLane final : public TItemContext {
public:
    // mailbox: where a threaded lane posts; none: the lane runs its items on the caller's
    // thread and its notes go straight to sink. folderLane picks the working folder.
    TConversionLane(TLaneNoteSink& sink, TLaneMailbox* mailbox, int folderLane);
    ~TConversionLane() override;
    TConversionLane(const TConversionLane&) = delete;
    TConversionLane& operator=(const TConversionLane&) = delete;

    // Converts row's job from stream with backEnd. A threaded lane returns at once and
    // posts Finished last; otherwise the item is converted before Start returns.
    void Start(size_t row, const TmyMusicFile& job, std::unique_ptr<TAudioStream> stream,
               const TBackEnd& backEnd, bool carryCovers);
    // Called by the dispatcher for Finished: the worker has ended; the stream comes back
    // (for what it has to say about the read) and the lane is free.
    std::unique_ptr<TAudioStream> End();

    // The items started from now on are measured while they are encoded, and a written one
    // gets its track's loudness tags for target; none: nothing is measured.
    void SetLoudnessTarget(std::optional<TTargetType> target) { loudnessTarget_ = target; }
    // Whether the next item's track tags are written by the lane as it ends; off for an
    // album's item, whose track and album tags go in together once the album is done.
    void SetTagsTrack(bool on) { tagsTrack_ = on; }
    // After End: the item's loudness, and its meter for the album's (none when the item was
    // not measured).
    const TLoudness& Loudness() const { return loudness_; }
    std::unique_ptr<TLoudnessMeter> TakeMeter() { return std::move(meter_); }

    bool Busy() const { return busy_; }
    size_t Row() const { return row_; }
    const TmyMusicFile& Job() const { return job_; }
    int Percent() const { return percent_.load(std::memory_order_relaxed); }
    void Cancel() { cancel_.store(true, std::memory_order_relaxed); }

    // TItemContext, for the back-end on the lane.
    const TmyMusicFile& CurrentJob() const override { return job_; }
    TAudioStream& ConversionStream() override { return *stream_; }
    TDialogs& Dialogs() override { return dialogs_; }
    void SetStatus(const std::string& status) override;
    void SetItemPercent(int percent) override;
    void ProcessEvents() override;
    bool CancelCurrent() const override { return cancel_.load(std::memory_order_relaxed); }
    // The flag is new with every item, so there is nothing left over from another one to
    // clear; a cancel that came between two stages of this item still counts.
    void ClearCancelCurrent() override {}
    std::string TemporaryFolder(std::string* why) override;
    bool CarryCovers() const override { return carryCovers_; }
    void AddNote(const std::string& note) override;
    int CoreShare() const override { return coreShare_; }
    void MeasureLoudness(const TChannelInfo& info, std::span<const std::byte> pcm) override;
    void SetCoreShare(int cores) { coreShare_ = std::max(1, cores); }

private:
    class TLaneDialogs final : public TDialogs {
    public:
        explicit TLaneDialogs(TConversionLane& lane) : lane_(lane) {}
        void Show(TMessageKind kind, const std::string& caption, const std::string& text) override;
        TAnswer Ask(TMessageKind kind, const std::string& caption, const std::string& text,
                    const std::vector<TAnswer>& buttons) override;

    private:
        TConversionLane& lane_;
    };

    void Post(TLaneNote note);
    // The measured track's loudness tags into the written output.
    void TagTrackLoudness();

    TLaneNoteSink& sink_;
    TLaneMailbox* mailbox_;
    int folderLane_;
    TLaneDialogs dialogs_{*this};
    bool busy_ = false;
    bool carryCovers_ = false;
    int coreShare_ = 1;
    size_t row_ = 0;
    TmyMusicFile job_;
    std::unique_ptr<TAudioStream> stream_;
    std::atomic<bool> cancel_{false};
    std::atomic<int> percent_{0};
    std::optional<TTargetType> loudnessTarget_;
    bool tagsTrack_ = true;
    std::unique_ptr<TLoudnessMeter> meter_;
    TLoudness loudness_;
    std::thread worker_;
};

} // namespace bw
