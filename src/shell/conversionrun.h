#pragma once

#include "audio/loudness.h"
#include "cd/accuraterip.h"
#include "core/dialogs.h"
#include "core/jobitem.h"
#include "encoders/encoderoptions.h"
#include "encoders/itemcontext.h"
#include "encoders/replaygain.h"
#include "encoders/targettype.h"
#include "shell/appsettings.h"
#include "shell/conversionlanes.h"
#include "shell/runfiles.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

namespace bw {

class TAudioStream;
class TCdDriveList;

// One row of the job list as the run sees it.
struct TConversionRow {
    TmyMusicFile Item;
    bool Checked = true;
    std::string Status = "-";
    // Why the row did not end "Done" in the last run: the last error shown for it, or why
    // it was skipped. Empty when it was converted.
    std::string Reason = {};
    // What is worth knowing about how it was converted, though it is no failure (a cover
    // left out); shown as the row's tooltip.
    std::string Note = {};
};

// What the windows (or the command-line tool) are told while a run works. Every call comes
// on the thread that called TConversionRun::Run, whatever number of files converts at once.
class TConversionObserver {
public:
    virtual ~TConversionObserver() = default;
    virtual void RowStatusChanged(size_t /*row*/, const std::string& /*status*/) {}
    virtual void RowUnchecked(size_t /*row*/) {}
    virtual void RowNoteChanged(size_t /*row*/, const std::string& /*note*/) {}
    // The progress window's "From" and "To" fields (both empty: cleared).
    virtual void FromToChanged(const std::string& /*from*/, const std::string& /*to*/) {}
    virtual void ItemPercentChanged(int /*percent*/) {}
    // The gauge of each running row, for a view that shows every file converting at once
    // (the window's gauge follows the last-started one alone).
    virtual void RowPercentChanged(size_t /*row*/, int /*percent*/) {}
    virtual void TotalPercentChanged(int /*percent*/) {}
    // The row is through for this run, whatever came of it: its Status and Reason are final.
    virtual void RowEnded(size_t /*row*/) {}
    // Called before each item and between the blocks of one (with several files at once:
    // every few milliseconds): the window processes its pending events here, and its
    // Cancel button calls TConversionRun::AskCancel.
    virtual void ProcessEvents() {}
};

// Each row's output (its file name) and AccurateRip result, for the rows that have one.
std::vector<std::pair<std::string, std::string>>
RipResults(const std::vector<TConversionRow>& rows);

// The conversion run: every checked row in list order, decoded and handed to the back-end
// of the target type, up to ParallelJobs rows at once (see conversionlanes.h).
class TConversionRun final : private TLaneNoteSink {
public:
    TConversionRun(std::vector<TConversionRow>& rows, TTargetType target,
                   const TEncoderOptions& options, TAppSettings& settings, TDialogs& dialogs,
                   TConversionObserver& observer);
    ~TConversionRun() override;
    TConversionRun(const TConversionRun&) = delete;
    TConversionRun& operator=(const TConversionRun&) = delete;

    // "Same as source": outputs go beside their sources instead of into OutputFolder.
    void SetSameAsSource(bool on) { sameAsSource_ = on; }
    // The CD drives the list's CD tracks were read from (and .cda files are looked up in);
    // their doors are locked while the run works.
    void SetCdDrives(TCdDriveList* drives) { cdDrives_ = drives; }
    // Replaces the back-end of a target type.
    void SetBackEnd(TTargetType target, TBackEnd backEnd);

    // The Convert action's check before a run: false, after the warning, when no row is
    // checked.
    static bool HasCheckedRows(const std::vector<TConversionRow>& rows, TDialogs& dialogs);

    // Runs the whole loop; returns when every checked row has been tried, or when CancelAll
    // is set and the rows being converted have ended.
    void Run();

    // The progress window's Cancel button: asks, then sets the flags as answered. The answer
    // is about the items under way when it is asked: until it is in, no lane goes on.
    void AskCancel();
    // Cancels the rows being converted; the run goes on with the next ones.
    void SetCancelCurrent();
    // Cancels the rows being converted and begins no other.
    void SetCancelAll();

    // The overwrite question; true when path may be written (also when it does not exist).
    bool ConfirmOverwrite(const std::string& path);

    bool RunFinished() const { return runFinished_; }
    // The progress, 0..100, of the item started last.
    int ItemPercent() const { return itemPercent_; }
    int CheckedCount() const { return checkedCount_; }
    int CompletedCount() const { return completedCount_; }
    std::chrono::system_clock::time_point StartTime() const { return startTime_; }
    std::chrono::system_clock::time_point EndTime() const { return endTime_; }
    // The time taken as the result window shows it: "hh:mm:ss".
    std::string ElapsedText() const;

private:
    // TLaneNoteSink.
    void CarryOut(TConversionLane& lane, TLaneNote note) override;
    void ProcessEvents() override { observer_.ProcessEvents(); }
    void LanePercentChanged(TConversionLane& lane) override;
    // Tells the observer the percentage of the lane's row when it moved.
    void ReportRowPercent(const TConversionLane& lane);

    // Opens the row's stream, decides its target and asks what has to be asked, then hands
    // it to lane; an item that ends before its back-end counts as finished here.
    void StartRow(size_t row, TConversionLane& lane);
    // stream: what was read for it, none when the row was passed over.
    void FinishRow(size_t row, bool written, const TAudioStream* stream);
    // A CD track's checksums of the read onto its row, and how the AccurateRip database
    // judges them; the database is asked once a disc, when its first track ends.
    void VerifyRip(size_t row, const TAudioStream& stream);
    void CountFinished();
    // Loudness: whether this run measures, its albums by row, and their tags once each
    // album's last row has ended.
    struct TAlbum {
        std::vector<size_t> Rows;
        size_t Ended = 0;
        std::string Missing; // the source of a row that ended without a measured output
        bool Written = false;
    };
    static constexpr size_t kNoAlbum = static_cast<size_t>(-1);
    bool MeasuresLoudness() const;
    void GroupAlbums();
    void AlbumRowEnded(size_t row);
    void LeaveUnfinishedAlbums();
    void NoteAlbumLeftOut(TAlbum& album, const std::string& why);
    void AddRowNote(size_t row, const std::string& note);
    // The row's track tags and the album's items (none: the track's alone) into its output.
    void TagLoudness(size_t row, const TTagItems& albumItems);
    // The log, cue sheet and playlist of each disc the run read tracks of.
    void WriteRipRecords();
    // Whether row has to wait for a running one: both read a CD.
    bool MustWait(size_t row);
    // Notes every file the checked rows read, before any is written.
    void CollectReadFiles();
    // Why item's output may not be written in this run (it would replace a file the run
    // reads, or another item's output); empty when it may.
    std::string OutputClash(const TmyMusicFile& item) const;
    // The item is not handed to a back-end; it counts as finished.
    void PassOver(const std::string& status);
    void SetStatus(const std::string& status);
    void SetItemPercent(int percent);
    // Opens the item's stream; false with why (empty: the usual "can't load" message).
    bool OpenConversionStream(const TmyMusicFile& item, std::string& why);
    bool OpenCdaTrack(const TmyMusicFile& item, std::string& why);
    // The item's target; the CD artist and album folders are made when makeFolders is set
    // (and left out when they cannot be).
    std::string TargetPathFor(const TmyMusicFile& item, bool makeFolders);
    std::string TargetFolderFor(const TmyMusicFile& item, bool makeFolders);
    // The folder levels of an item added with a folder, when the structure is kept.
    std::string StructureLevels(const TmyMusicFile& item) const;
    // One folder level made of a text: safe as a name, and for FAT when asked.
    std::string LevelName(std::string_view text, std::string_view unknown) const;
    // An output newer than its source, from an earlier run.
    bool IsConvertedAlready(const TmyMusicFile& item) const;
    bool IsSameFile(const std::string& target, const std::string& source) const;
    bool EnsureFolderOf(const std::string& path);

    // The message boxes as the run shows them for a row, its own and its lanes': every
    // error shown also becomes the current row's Reason.
    class TRowDialogs final : public TDialogs {
    public:
        explicit TRowDialogs(TConversionRun& run) : run_(run) {}
        void Show(TMessageKind kind, const std::string& caption, const std::string& text) override;
        TAnswer Ask(TMessageKind kind, const std::string& caption, const std::string& text,
                    const std::vector<TAnswer>& buttons) override {
            return run_.dialogs_.Ask(kind, caption, text, buttons);
        }

    private:
        TConversionRun& run_;
    };

    std::vector<TConversionRow>& rows_;
    TTargetType target_;
    TEncoderOptions options_;
    TAppSettings& settings_;
    TDialogs& dialogs_;
    TRowDialogs rowDialogs_{*this};
    TConversionObserver& observer_;
    std::vector<TBackEnd> backEnds_;
    bool sameAsSource_ = false;
    TCdDriveList* cdDrives_ = nullptr;
    bool listHasCdTracks_ = false;
    std::vector<std::string> foldersFailed_; // output folders that could not be made
    std::unordered_set<std::string> foldersCleared_; // of what killed runs left there
    TRunFiles files_;
    // What the AccurateRip database said of each drive's disc in this run.
    struct TArDisc {
        TDiscIds Ids;
        TArDiscAnswer Answer;
    };
    std::map<uint8_t, TArDisc> arDiscs_;
    // By row: whether it was read from a disc in this run, and the sectors it lost.
    std::vector<bool> ripRead_;
    std::vector<int64_t> ripLost_;

    std::vector<TAlbum> albums_;
    std::vector<size_t> rowAlbum_;                        // index into albums_, or kNoAlbum
    std::vector<TLoudness> loudness_;                     // by row: its track's loudness
    std::vector<std::unique_ptr<TLoudnessMeter>> meters_; // by row, kept for its album

    std::unique_ptr<TAudioStream> stream_; // of the row being started
    // The lanes post here; declared first, so that it outlives every lane's thread.
    TLaneMailbox mailbox_;
    std::vector<std::unique_ptr<TConversionLane>> lanes_;
    TConversionLane* lastStarted_ = nullptr; // its From/To and gauge are shown
    size_t currentRow_ = 0;                  // the row the run is dealing with
    bool cancelAll_ = false;
    bool runFinished_ = false;
    int itemPercent_ = 0;
    std::vector<int> rowPercent_; // by row: the percentage last reported of it
    int checkedCount_ = 0;
    int completedCount_ = 0;
    std::chrono::system_clock::time_point startTime_{};
    std::chrono::system_clock::time_point endTime_{};
};

} // namespace bw
