#include "shell/conversionrun.h"

#include "audio/audiostream.h"
#include "audio/ffmpegload.h"
#include "cd/cddrives.h"
#include "cd/cddb.h"
#include "cd/cdtrackstream.h"
#include "common/outputfile.h"
#include "tags/cdatrack.h"
#include "encoders/aacoutput.h"
#include "encoders/apeoutput.h"
#include "encoders/externalencoder.h"
#include "encoders/flacoutput.h"
#include "encoders/replaygain.h"
#include "encoders/itemcontext.h"
#include "shell/naming.h"
#include "shell/riplog.h"
#include "encoders/wavoutput.h"
#include "encoders/wmaoutput.h"

#include <algorithm>
#include <thread>
#include <cmath>
#include <cstdio>
#include <filesystem>

namespace bw {

namespace {

constexpr const char* kCaption = "Brindlewave";
constexpr const char* kStatusConverting = "Coverting...";
constexpr const char* kStatusDone = "Done";
constexpr const char* kStatusError = "Error";
constexpr const char* kReplacesASource = "the output would replace a source of this run";
// How long the dispatcher waits for the lanes' notes before the window gets its turn.
constexpr auto kDispatchWait = std::chrono::milliseconds(10);

size_t FileNameStart(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// A file name (never a path, so a dot in a folder is no extension) with its extension, from
// the last dot, replaced, or appended when it has none.
std::string WithExtension(const std::string& name, const std::string& extension) {
    const size_t dot = name.rfind('.');
    return (dot == std::string::npos ? name : name.substr(0, dot)) + extension;
}

} // namespace

std::vector<std::pair<std::string, std::string>>
RipResults(const std::vector<TConversionRow>& rows) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const TConversionRow& r : rows) {
        const std::string& target = r.Item.TargetPath;
        if (!r.Item.AccurateRip.empty())
            out.emplace_back(target.substr(FileNameStart(target)), r.Item.AccurateRip);
    }
    return out;
}

TConversionRun::TConversionRun(std::vector<TConversionRow>& rows, TTargetType target,
                               const TEncoderOptions& options, TAppSettings& settings,
                               TDialogs& dialogs, TConversionObserver& observer)
    : rows_(rows), target_(target), options_(options), settings_(settings), dialogs_(dialogs),
      observer_(observer), backEnds_(kTargetTypeCount) {
    for (int i = 0; i < kTargetTypeCount; ++i) {
        const auto t = static_cast<TTargetType>(i);
        if (IsExternalEncoderTarget(t))
            backEnds_[static_cast<size_t>(i)] = [this, t](TItemContext& c) {
                return RunExternalEncoder(c, t, options_);
            };
    }
    SetBackEnd(TTargetType::Wav, [this](TItemContext& c) { return RunWavTarget(c, options_.Wav); });
    SetBackEnd(TTargetType::Wma, [this](TItemContext& c) { return RunWmaTarget(c, options_.Wma); });
    SetBackEnd(TTargetType::Ape, [this](TItemContext& c) { return RunApeTarget(c, options_.Ape); });
    SetBackEnd(TTargetType::Aac, [this](TItemContext& c) { return RunAacTarget(c, options_.Aac); });
    SetBackEnd(TTargetType::Flac, [this](TItemContext& c) { return RunFlacTarget(c, options_.Flac); });
}

TConversionRun::~TConversionRun() = default;

void TConversionRun::SetBackEnd(TTargetType target, TBackEnd backEnd) {
    backEnds_[static_cast<size_t>(target)] = std::move(backEnd);
}

bool TConversionRun::HasCheckedRows(const std::vector<TConversionRow>& rows, TDialogs& dialogs) {
    for (const auto& r : rows)
        if (r.Checked)
            return true;
    dialogs.Show(TMessageKind::Warning, kCaption, "Please select files for converting.");
    return false;
}

void TConversionRun::Run() {
    stream_.reset();
    runFinished_ = false;
    cancelAll_ = false;
    checkedCount_ = 0;
    completedCount_ = 0;
    listHasCdTracks_ = false;
    foldersFailed_.clear();
    foldersCleared_.clear();
    arDiscs_.clear();
    for (const auto& r : rows_) {
        checkedCount_ += r.Checked ? 1 : 0;
        listHasCdTracks_ = listHasCdTracks_ || r.Item.SourceType == TSourceType::CdTrack;
    }
    CollectReadFiles();
    GroupAlbums();
    ripRead_.assign(rows_.size(), false);
    ripLost_.assign(rows_.size(), 0);
    rowPercent_.assign(rows_.size(), -1);
    startTime_ = std::chrono::system_clock::now();
    observer_.TotalPercentChanged(0);

    // Every read of a drive is moved by its model's offset, as the settings hold it now.
    if (cdDrives_)
        cdDrives_->SetReadOffsets(settings_.ReadOffsets);

    // The discs being read stay in their drives until the run ends, however it ends.
    std::vector<int> locked;
    for (const auto& r : rows_)
        if (r.Checked && r.Item.SourceType == TSourceType::CdTrack && cdDrives_ &&
            std::find(locked.begin(), locked.end(), r.Item.CdDrive) == locked.end() &&
            cdDrives_->LockDoor(r.Item.CdDrive))
            locked.push_back(r.Item.CdDrive);
    const struct TUnlock {
        TCdDriveList* Drives;
        const std::vector<int>& Locked;
        ~TUnlock() {
            for (const int d : Locked)
                Drives->UnlockDoor(d);
        }
    } unlock{cdDrives_, locked};

    // One lane converts on this thread, as the window always did; more get threads and
    // this thread dispatches.
    const int laneCount = std::clamp(std::min(settings_.ParallelJobs, checkedCount_), 1, kMaxParallelJobs);
    const bool threaded = laneCount > 1;
    lanes_.clear();
    lastStarted_ = nullptr;
    // Back-ends that can spread one item over several cores (Monkey's Audio) get the lane's
    // share: every core for a run of one file, one a lane when the lanes fill the machine.
    const bool measuring = MeasuresLoudness();
    const int coreShare = std::max(1, static_cast<int>(std::thread::hardware_concurrency()) / laneCount);
    for (int k = 0; k < laneCount; ++k) {
        lanes_.push_back(std::make_unique<TConversionLane>(static_cast<TLaneNoteSink&>(*this), threaded ? &mailbox_ : nullptr,
                                                           threaded ? k + 1 : 0));
        lanes_.back()->SetCoreShare(coreShare);
        if (measuring)
            lanes_.back()->SetLoudnessTarget(target_);
    }
    const auto busy = [this] {
        return std::any_of(lanes_.begin(), lanes_.end(), [](const auto& l) { return l->Busy(); });
    };

    const size_t count = rows_.size();
    size_t next = 0;
    for (;;) {
        // Rows start in list order while a lane is free and the next row need not wait.
        for (;; ++next) {
            while (next < count && !rows_[next].Checked)
                ++next;
            const auto free = std::find_if(lanes_.begin(), lanes_.end(), [](const auto& l) { return !l->Busy(); });
            if (next >= count || free == lanes_.end() || MustWait(next))
                break;
            observer_.ProcessEvents();
            if (cancelAll_)
                break;
            StartRow(next, **free);
        }
        if (!busy() && (cancelAll_ || next >= count))
            break;
        for (auto& [lane, note] : mailbox_.Take(kDispatchWait))
            CarryOut(*lane, std::move(note));
        if (lastStarted_ && lastStarted_->Busy() && lastStarted_->Percent() != itemPercent_)
            SetItemPercent(lastStarted_->Percent());
        for (const auto& lane : lanes_)
            if (lane->Busy())
                ReportRowPercent(*lane);
        observer_.ProcessEvents();
    }
    lanes_.clear();
    lastStarted_ = nullptr;
    LeaveUnfinishedAlbums();
    if (settings_.WriteRipLog)
        WriteRipRecords();
    endTime_ = std::chrono::system_clock::now();
    runFinished_ = true;
}

void TConversionRun::StartRow(size_t row, TConversionLane& lane) {
    currentRow_ = row;
    TmyMusicFile& item = rows_[row].Item;
    rows_[row].Reason.clear();
    rows_[row].Note.clear();
    SetItemPercent(0);
    stream_.reset();

    // A source that cannot be decoded is not handed on: its back-end would only fail
    // again with a message that hides the real reason.
    if (std::string why; !OpenConversionStream(item, why)) {
        rowDialogs_.Show(TMessageKind::Error, kCaption,
                         why.empty() ? "Can\"t loading file \"" + item.SourcePath + "\"!" : why);
        PassOver(kStatusError);
        return;
    }

    item.TargetPath = TargetPathFor(item, true);
    observer_.FromToChanged({}, {});
    if (IsSameFile(item.TargetPath, item.SourcePath)) {
        rowDialogs_.Show(TMessageKind::Error, kCaption,
                         item.TargetPath + "\n Can't convert to itself, skipped.");
        PassOver({});
        return;
    }
    // Whatever the overwrite answer: neither question nor switch may trade a file this run
    // still reads, or the output of another of its items, for this one.
    if (const std::string clash = OutputClash(item); !clash.empty()) {
        rowDialogs_.Show(TMessageKind::Error, kCaption, clash);
        PassOver(kStatusError);
        return;
    }
    if (settings_.SkipExisting && IsConvertedAlready(item)) {
        // Re-running over a library: what was converted since its source last changed is
        // left as it is, without a question. It stays this item's output.
        files_.AddOutput(item.TargetPath, item.SourcePath);
        stream_.reset();
        FinishRow(row, true, nullptr);
        return;
    }
    if (!settings_.OverwriteWithoutAsking && !ConfirmOverwrite(item.TargetPath)) {
        rows_[row].Reason = "\"" + item.TargetPath + "\" already exists and was not replaced.";
        PassOver({});
        return;
    }
    if (!EnsureFolderOf(item.TargetPath)) {
        PassOver(kStatusError);
        return;
    }
    // A run that was killed left its unfinished outputs under their temporary names; they
    // go before this run writes there for the first time.
    if (const std::string folder = item.TargetPath.substr(0, FileNameStart(item.TargetPath));
        foldersCleared_.insert(folder).second)
        RemoveStaleTemporaryFiles(folder);
    files_.AddOutput(item.TargetPath, item.SourcePath);

    observer_.FromToChanged(item.SourcePath, item.TargetPath);
    SetStatus(kStatusConverting);
    lastStarted_ = &lane;
    lane.SetTagsTrack(rowAlbum_[row] == kNoAlbum);
    lane.Start(row, item, std::move(stream_), backEnds_[static_cast<size_t>(target_)], settings_.CarryCovers);
}

void TConversionRun::FinishRow(size_t row, bool written, const TAudioStream* stream) {
    currentRow_ = row;
    if (stream)
        VerifyRip(row, *stream);
    if (stream && rows_[row].Item.SourceType == TSourceType::CdTrack && row < ripRead_.size()) {
        ripRead_[row] = true;
        ripLost_[row] = stream->LostSectors();
    }
    // A CD track with sectors the reader had to give up on is written whole, but the row
    // says what was lost; the output stays for the user to judge.
    if (written && stream && stream->LostSectors() > 0) {
        rowDialogs_.Show(TMessageKind::Error, kCaption, stream->ProblemText());
        SetStatus(kStatusError);
    } else if (written) {
        files_.Written(rows_[row].Item.TargetPath);
        rows_[row].Reason.clear();
        SetStatus(kStatusDone);
        rows_[row].Checked = false;
        observer_.RowUnchecked(row);
    } else {
        files_.Abandoned(rows_[row].Item.TargetPath);
    }
    CountFinished();
}

void TConversionRun::VerifyRip(size_t row, const TAudioStream& stream) {
    TmyMusicFile& item = rows_[row].Item;
    stream.TakeRipChecksums(item);
    item.AccurateRip.clear();
    item.Confidence = 0;
    if (!item.RipChecked || item.SourceType != TSourceType::CdTrack || !settings_.VerifyAccurateRip ||
        settings_.AccurateRipServer.empty() || !cdDrives_ || item.CdDrive >= cdDrives_->Count())
        return;
    auto [at, first] = arDiscs_.try_emplace(item.CdDrive);
    TArDisc& disc = at->second;
    if (first) {
        TCDToc toc;
        if (!cdDrives_->ReadToc(item.CdDrive, toc)) {
            disc.Answer.Error =
                "Can't read the table of contents of \"" + cdDrives_->At(item.CdDrive).Text + "\"";
        } else {
            disc.Ids = ComputeDiscIds(toc);
            SetStatus("Verifying with AccurateRip...");
            const int timeoutMs = std::max(settings_.Timeout, 1) * 1000;
            disc.Answer = FetchAccurateRip(settings_.AccurateRipServer, disc.Ids, timeoutMs, [this] {
                observer_.ProcessEvents();
                return cancelAll_;
            });
        }
    }
    switch (disc.Answer.Kind) {
    case TArDiscAnswer::TKind::Found: {
        // Slots follow the table of contents, data tracks included.
        const auto slot = static_cast<size_t>(std::max(item.Track - 1, 0));
        const TArVerdict v = JudgeTrack(disc.Answer.Blocks, slot, item.CrcV1, item.CrcV2);
        item.AccurateRip = v.Text;
        item.Confidence = v.Confidence;
        break;
    }
    case TArDiscAnswer::TKind::NotFound: item.AccurateRip = kArNotInDatabase; break;
    case TArDiscAnswer::TKind::Failed: item.AccurateRip = kArNotVerified; break;
    }
    std::string& note = rows_[row].Note;
    note += (note.empty() ? "" : "\n") + std::string("AccurateRip: ") + item.AccurateRip;
    if (!disc.Answer.Error.empty())
        note += " (" + disc.Answer.Error + ")";
    observer_.RowNoteChanged(row, note);
}

void TConversionRun::WriteRipRecords() {
    if (!cdDrives_)
        return;
    for (size_t d = 0; d < cdDrives_->Count(); ++d) {
        const TCdDriveEntry& drive = cdDrives_->At(d);
        if (drive.Album)
            continue; // not read from a disc
        std::vector<size_t> read;
        for (size_t row = 0; row < rows_.size(); ++row)
            if (ripRead_[row] && rows_[row].Item.CdDrive == d)
                read.push_back(row);
        if (read.empty())
            continue;
        std::vector<TCdTrack> tracks;
        cdDrives_->Tracks(static_cast<int>(d), tracks);
        const TmyMusicFile& disc = rows_[read.front()].Item;
        TRipRecord record;
        record.Drive = drive.Text;
        record.ReadOffset = drive.ReadOffset;
        record.Retries = kCdMaxRetries;
        record.Album = disc.Album;
        record.Performer = disc.Artist;
        record.Date = disc.Year;
        record.Genre = disc.Genre;
        record.Mcn = disc.Barcode;
        record.Time = startTime_;
        if (TCDToc toc; cdDrives_->ReadToc(static_cast<int>(d), toc)) {
            char id[9];
            std::snprintf(id, sizeof id, "%08x", ComputeDiscId(toc));
            record.DiscId = id;
        }
        // The outputs' own folder when they share one (the album's), else the output folder.
        std::string folder;
        bool oneFolder = true;
        for (const size_t row : read) {
            const TmyMusicFile& item = rows_[row].Item;
            TRipTrack t;
            t.Number = item.Track;
            const bool written = std::filesystem::exists(item.TargetPath);
            t.File = written ? item.TargetPath : std::string();
            t.Status = rows_[row].Status;
            t.Title = item.Title;
            t.Performer = item.Artist;
            t.Isrc = item.Isrc;
            t.LostSectors = ripLost_[row];
            t.RipChecked = item.RipChecked;
            t.CopyCrc = item.CopyCrc;
            t.Peak = item.Peak;
            t.AccurateRip = item.AccurateRip;
            t.Confidence = item.Confidence;
            if (row < loudness_.size() && loudness_[row].Integrated) {
                t.ReplayGain = ReplayGainText(*loudness_[row].Integrated);
                t.ReplayPeak = ReplayPeakText(loudness_[row].Peak);
            }
            for (const TCdTrack& c : tracks)
                if (c.Number == item.Track) {
                    t.Sectors = c.Sectors;
                    t.PregapSectors = c.PregapSectors;
                }
            if (written) {
                const std::string parent = std::filesystem::path(item.TargetPath).parent_path().string();
                oneFolder = oneFolder && (folder.empty() || folder == parent);
                folder = parent;
            }
            record.Tracks.push_back(std::move(t));
        }
        cdDrives_->Release(static_cast<int>(d));
        if (folder.empty())
            continue; // nothing was written: there is no rip to describe
        if (!oneFolder)
            folder = settings_.OutputFolder;
        std::string name = SafeFileNamePart(disc.Album, "Unknown Album", 4);
        if (settings_.SafeNames)
            name = FatSafeName(name);
        if (std::string why; !WriteRipFiles(record, folder, name, &why))
            dialogs_.Show(TMessageKind::Error, kCaption, why);
    }
}

bool TConversionRun::MeasuresLoudness() const {
    return settings_.ReplayGainMode != static_cast<int>(TReplayGainMode::Off) &&
           TakesLoudnessTags(target_);
}

void TConversionRun::GroupAlbums() {
    albums_.clear();
    rowAlbum_.assign(rows_.size(), kNoAlbum);
    loudness_.assign(rows_.size(), {});
    meters_.clear();
    meters_.resize(rows_.size());
    if (!MeasuresLoudness() ||
        settings_.ReplayGainMode != static_cast<int>(TReplayGainMode::TrackAndAlbum))
        return;
    std::map<std::string, size_t> byKey;
    for (size_t row = 0; row < rows_.size(); ++row) {
        if (!rows_[row].Checked)
            continue;
        const TmyMusicFile& item = rows_[row].Item;
        // The tracks of a disc (or of an album image) are its album whatever their texts say;
        // files are one when they go into one folder under one album name.
        std::string key;
        if (item.SourceType == TSourceType::CdTrack)
            key = "\x01" + std::to_string(item.CdDrive);
        else if (const std::string target = TargetPathFor(item, false); !item.Album.empty())
            key = target.substr(0, FileNameStart(target)) + '\0' + item.Album;
        else
            continue;
        const auto [at, added] = byKey.try_emplace(key, albums_.size());
        if (added)
            albums_.emplace_back();
        albums_[at->second].Rows.push_back(row);
        rowAlbum_[row] = at->second;
    }
}

void TConversionRun::AlbumRowEnded(size_t row) {
    if (row >= rowAlbum_.size() || rowAlbum_[row] == kNoAlbum)
        return;
    TAlbum& album = albums_[rowAlbum_[row]];
    ++album.Ended;
    // Only a measured output counts: one skipped as converted already was not measured.
    if (rows_[row].Status != kStatusDone || !meters_[row]) {
        if (album.Missing.empty())
            album.Missing = rows_[row].Item.SourcePath;
    }
    if (album.Ended < album.Rows.size())
        return;
    if (!album.Missing.empty()) {
        NoteAlbumLeftOut(album, "\"" + album.Missing + "\" of the same album was not converted");
        return;
    }
    std::vector<TLoudnessMeter*> meters;
    for (const size_t r : album.Rows)
        meters.push_back(meters_[r].get());
    const TTagItems items = LoudnessTagItems(target_, TLoudnessMeter::Combined(meters), true);
    for (const size_t r : album.Rows) {
        TagLoudness(r, items);
        meters_[r].reset();
    }
    album.Written = true;
}

void TConversionRun::TagLoudness(size_t row, const TTagItems& albumItems) {
    // One rewrite of the output for both: an album's items are tagged once it is done.
    TTagItems items = LoudnessTagItems(target_, loudness_[row], false);
    items.insert(items.end(), albumItems.begin(), albumItems.end());
    if (std::string error; !AddLoudnessTags(target_, rows_[row].Item.TargetPath, items, error))
        AddRowNote(row, "The ReplayGain tags could not be written: " + error);
}

void TConversionRun::LeaveUnfinishedAlbums() {
    for (TAlbum& album : albums_)
        if (!album.Written && album.Ended < album.Rows.size())
            NoteAlbumLeftOut(album, "the run ended before the whole album was converted");
    meters_.clear();
}

void TConversionRun::NoteAlbumLeftOut(TAlbum& album, const std::string& why) {
    album.Written = true; // nothing more is to come of it
    for (const size_t r : album.Rows)
        if (rows_[r].Status == kStatusDone && meters_[r]) {
            TagLoudness(r, {});
            AddRowNote(r, "No album ReplayGain tags: " + why + ".");
        }
}

void TConversionRun::AddRowNote(size_t row, const std::string& note) {
    std::string& text = rows_[row].Note;
    text += (text.empty() ? "" : "\n") + note;
    observer_.RowNoteChanged(row, text);
}

void TConversionRun::PassOver(const std::string& status) {
    if (!status.empty())
        SetStatus(status);
    stream_.reset();
    CountFinished();
}

void TConversionRun::CountFinished() {
    AlbumRowEnded(currentRow_);
    ++completedCount_;
    observer_.RowEnded(currentRow_);
    observer_.TotalPercentChanged(completedCount_ * 100 / checkedCount_);
}

void TConversionRun::CarryOut(TConversionLane& lane, TLaneNote note) {
    currentRow_ = lane.Row();
    switch (note.Kind) {
    case TLaneNote::TKind::Status:
        SetStatus(note.Text);
        break;
    case TLaneNote::TKind::Message:
        rowDialogs_.Show(note.MessageKind, note.Caption, note.Text);
        break;
    case TLaneNote::TKind::Note:
        rows_[lane.Row()].Note = note.Text;
        observer_.RowNoteChanged(lane.Row(), note.Text);
        break;
    case TLaneNote::TKind::Question:
        note.Answer->set_value(rowDialogs_.Ask(note.MessageKind, note.Caption, note.Text, note.Buttons));
        break;
    case TLaneNote::TKind::Finished: {
        // The gauge shows where the item ended, even when it ended between two looks.
        if (&lane == lastStarted_ && lane.Percent() != itemPercent_)
            SetItemPercent(lane.Percent());
        ReportRowPercent(lane);
        const auto stream = lane.End();
        loudness_[lane.Row()] = lane.Loudness();
        meters_[lane.Row()] = lane.TakeMeter();
        FinishRow(lane.Row(), note.Written, stream.get());
        break;
    }
    }
}

void TConversionRun::LanePercentChanged(TConversionLane& lane) {
    if (&lane == lastStarted_)
        SetItemPercent(lane.Percent());
    ReportRowPercent(lane);
}

void TConversionRun::ReportRowPercent(const TConversionLane& lane) {
    const size_t row = lane.Row();
    if (row < rowPercent_.size() && rowPercent_[row] != lane.Percent()) {
        rowPercent_[row] = lane.Percent();
        observer_.RowPercentChanged(row, rowPercent_[row]);
    }
}

bool TConversionRun::MustWait(size_t row) {
    const TmyMusicFile& item = rows_[row].Item;
    // A disc, or an image read as one, is read one track at a time; an album image's tracks
    // are cuts of audio files, read like any file. (Rows that share a file never need to
    // wait: the second of them is refused before it starts.)
    const auto readsCd = [this](const TmyMusicFile& i) {
        if (i.SourceType == TSourceType::CdaFile)
            return true;
        return i.SourceType == TSourceType::CdTrack &&
               !(cdDrives_ && i.CdDrive < cdDrives_->Count() && cdDrives_->At(i.CdDrive).Album);
    };
    if (!readsCd(item))
        return false;
    // The lane's own copy: the row itself may be written by this thread meanwhile.
    return std::any_of(lanes_.begin(), lanes_.end(),
                       [&](const auto& lane) { return lane->Busy() && readsCd(lane->Job()); });
}

void TConversionRun::CollectReadFiles() {
    files_.Clear();
    std::vector<uint8_t> drivesDone;
    for (const auto& r : rows_) {
        if (!r.Checked)
            continue;
        const TmyMusicFile& item = r.Item;
        if (item.SourceType != TSourceType::CdTrack) {
            files_.AddRead(item.SourcePath);
            continue;
        }
        // A track is named by its title; what is read is its drive's image, if it is one.
        if (!cdDrives_ || item.CdDrive >= cdDrives_->Count() ||
            std::find(drivesDone.begin(), drivesDone.end(), item.CdDrive) != drivesDone.end())
            continue;
        drivesDone.push_back(item.CdDrive);
        const TCdDriveEntry& drive = cdDrives_->At(item.CdDrive);
        if (drive.IsImage)
            files_.AddRead(drive.Path);
        if (drive.Album) {
            files_.AddRead(drive.Album->Sheet);
            for (const TAlbumTrack& track : drive.Album->Tracks)
                files_.AddRead(track.Path);
        }
    }
}

std::string TConversionRun::OutputClash(const TmyMusicFile& item) const {
    if (files_.IsRead(item.TargetPath))
        return kReplacesASource;
    if (const std::string* other = files_.OutputOf(item.TargetPath))
        return "the same output as " + *other;
    return {};
}

bool TConversionRun::OpenConversionStream(const TmyMusicFile& item, std::string& why) {
    // FLAC, Ogg Vorbis, WavPack and Opus keep every channel of a surround source; the other
    // outputs take one or two and get the standard downmix. The lossless outputs keep a deep
    // source's 24 bits; the others take 16. (A CD's tracks are 16-bit stereo either way; an
    // album image's are read as files are.)
    const bool keepsChannels = target_ == TTargetType::Flac || target_ == TTargetType::Ogg ||
                               target_ == TTargetType::WavPack || target_ == TTargetType::Opus;
    const TChannelPolicy policy = keepsChannels ? TChannelPolicy::KeepAll : TChannelPolicy::DownmixToStereo;
    const TSampleDepth depth = target_ == TTargetType::Flac || target_ == TTargetType::Ape ||
                                       target_ == TTargetType::WavPack
                                   ? TSampleDepth::Keep24
                                   : TSampleDepth::Reduce16;
    switch (item.SourceType) {
    case TSourceType::CdTrack: {
        // From the drive the track was listed from, whatever drive is chosen now: another
        // disc would be ripped under this one's names.
        if (!cdDrives_ || item.CdDrive >= cdDrives_->Count()) {
            why = "Can't read \"" + item.SourcePath + "\": its CD drive is no longer listed.";
            return false;
        }
        std::string reason;
        stream_ = OpenCdTrack(cdDrives_->At(item.CdDrive), item.Track, cdDrives_->System(),
                              nullptr, &reason, policy, depth);
        if (!stream_)
            why = "Can't read \"" + item.SourcePath + "\" from \"" + cdDrives_->At(item.CdDrive).Text +
                  "\": " + reason;
        return stream_ != nullptr;
    }
    case TSourceType::CdaFile:
        return OpenCdaTrack(item, why);
    default: {
        stream_ = TAudioStream::OpenFile(item.SourcePath, nullptr, policy, depth);
        // Only FFmpeg reads the source, and it is not there to load.
        if (std::string missing; !stream_ && !FfmpegAvailable(&missing))
            why = "Can't read \"" + item.SourcePath + "\": " + missing;
        return stream_ != nullptr;
    }
    }
}

// A .cda file only names a track by its place on a disc: the track is read from the first
// listed drive whose disc has a track starting there with the same length.
bool TConversionRun::OpenCdaTrack(const TmyMusicFile& item, std::string& why) {
    TCDAtrack cda;
    if (!cda.ReadFromFile(item.SourcePath) || !cda.Valid())
        return false;
    const auto start = std::lround(cda.StartPosition() * 75);
    const auto length = std::lround(cda.Duration() * 75);
    for (size_t d = 0; cdDrives_ && d < cdDrives_->Count(); ++d) {
        std::vector<TCdTrack> tracks;
        if (!cdDrives_->Tracks(static_cast<int>(d), tracks))
            continue;
        for (const TCdTrack& t : tracks) {
            // Track files count from the start of the disc with or without its 2 s lead-in.
            const bool here = t.IsAudio && t.Sectors == length &&
                              (t.StartLsn == start || t.StartLsn + 150 == start);
            if (!here)
                continue;
            stream_ = OpenCdTrack(cdDrives_->At(d), t.Number, cdDrives_->System(), nullptr,
                                  &why);
            if (stream_)
                return true;
        }
    }
    if (why.empty())
        why = "Can't read \"" + item.SourcePath + "\": no disc in the CD drives holds track " +
              std::to_string(cda.TrackNumber()) + " of this length.";
    return false;
}

std::string TConversionRun::TargetPathFor(const TmyMusicFile& item, bool makeFolders) {
    const size_t nameStart = FileNameStart(item.SourcePath);
    const std::string folder =
        sameAsSource_ ? item.SourcePath.substr(0, nameStart) : TargetFolderFor(item, makeFolders);
    // A CD track's name is a title ("Vol. 2"), not a file name with an extension to replace.
    const std::string name = item.SourceType == TSourceType::CdTrack
                                 ? item.SourcePath.substr(nameStart) + TargetExtension(target_)
                                 : WithExtension(item.SourcePath.substr(nameStart), TargetExtension(target_));
    return folder + (settings_.SafeNames ? FatSafeName(name) : name);
}

std::string TConversionRun::LevelName(std::string_view text, std::string_view unknown) const {
    const std::string name = SafeFileNamePart(text, unknown);
    return settings_.SafeNames ? FatSafeName(name) : name;
}

std::string TConversionRun::TargetFolderFor(const TmyMusicFile& item, bool makeFolders) {
    std::string folder = settings_.OutputFolder;
    if (!listHasCdTracks_)
        return folder + StructureLevels(item);
    const auto addLevel = [&](bool wanted, const std::string& text, const char* unknown) {
        // Names come from the disc database: one level each, never a way out of the folder.
        // A row without the text gets no level.
        if (!wanted || text.empty())
            return;
        const std::string candidate = folder + LevelName(text, unknown);
        if (!makeFolders) {
            folder = candidate + "/";
            return;
        }
        std::error_code ec;
        // The output folder itself may not be there yet: it is made with the level.
        if (!std::filesystem::exists(candidate, ec) &&
            !std::filesystem::create_directories(candidate, ec)) {
            rowDialogs_.Show(TMessageKind::Error, kCaption,
                             "Can't create folder \"" + candidate + "\"!");
        }
        if (std::filesystem::is_directory(candidate, ec))
            folder = candidate + "/";
    };
    addLevel(settings_.CreateArtist, item.Artist, "Unknown Artist");
    addLevel(settings_.CreateAlbum, item.Album, "Unknown Album");
    return folder + StructureLevels(item);
}

std::string TConversionRun::StructureLevels(const TmyMusicFile& item) const {
    if (!settings_.KeepStructure || item.AddedFrom.empty())
        return {};
    // The added folder's own name and the path below it, so that two folders added one
    // after the other never write into each other. The folders are made with the output.
    namespace fs = std::filesystem;
    const fs::path added(item.AddedFrom);
    std::string levels = LevelName(added.filename().string(), "_") + "/";
    const fs::path below = fs::path(item.SourcePath).parent_path().lexically_relative(added);
    if (below.empty() || *below.begin() == "..")
        return levels; // not below the folder after all: its level alone
    for (const fs::path& part : below)
        if (part != ".")
            levels += LevelName(part.string(), "_") + "/";
    return levels;
}

// A missing output folder (a default folder that was never made, a removable disk not yet
// mounted under its old name) is created, as the CD sub-folders are. When it cannot be,
// the user is told once per run; each item going there is an error.
bool TConversionRun::EnsureFolderOf(const std::string& path) {
    const std::string folder = path.substr(0, FileNameStart(path));
    std::error_code ec;
    if (folder.empty() || std::filesystem::is_directory(folder, ec))
        return true;
    const std::string message = "Can't create folder \"" + folder + "\"!";
    if (std::find(foldersFailed_.begin(), foldersFailed_.end(), folder) != foldersFailed_.end()) {
        rows_[currentRow_].Reason = message;
        return false;
    }
    std::filesystem::create_directories(folder, ec);
    if (std::filesystem::is_directory(folder, ec))
        return true;
    foldersFailed_.push_back(folder);
    rowDialogs_.Show(TMessageKind::Error, kCaption,
                     message + (ec ? "\n" + ec.message() : std::string()));
    return false;
}

bool TConversionRun::IsConvertedAlready(const TmyMusicFile& item) const {
    if (item.SourceType == TSourceType::CdTrack || IsSameFile(item.TargetPath, item.SourcePath))
        return false;
    std::error_code ec, sourceError;
    const auto written = std::filesystem::last_write_time(item.TargetPath, ec);
    const auto changed = std::filesystem::last_write_time(item.SourcePath, sourceError);
    return !ec && !sourceError && std::filesystem::is_regular_file(item.TargetPath, ec) && written > changed;
}

bool TConversionRun::IsSameFile(const std::string& target, const std::string& source) const {
    if (target == source)
        return true;
    // Another spelling of the same file (a link, a folder given twice, a file system that
    // ignores letter case) would be overwritten while it is read.
    std::error_code ec;
    return std::filesystem::equivalent(target, source, ec) && !ec;
}

bool TConversionRun::ConfirmOverwrite(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::exists(path, ec))
        return true;
    const TAnswer a = dialogs_.Ask(
        TMessageKind::Confirmation, kCaption,
        "The file \"" + path + "\" already exists. Do you want ot overwrite it?",
        {TAnswer::Yes, TAnswer::No, TAnswer::YesToAll});
    if (a == TAnswer::YesToAll)
        settings_.OverwriteWithoutAsking = true;
    return a == TAnswer::Yes || a == TAnswer::YesToAll;
}

void TConversionRun::AskCancel() {
    std::vector<std::pair<TConversionLane*, size_t>> running;
    for (const auto& lane : lanes_)
        if (lane->Busy())
            running.emplace_back(lane.get(), lane->Row());
    // While the question is open the lanes wait at their next block, as a run of one file
    // at a time waits in its back-end: "Yes" must find the items it was asked about still
    // under way. They go on when the answer has been carried out.
    mailbox_.Hold(true);
    const struct TRelease {
        TLaneMailbox& Mailbox;
        ~TRelease() { Mailbox.Hold(false); }
    } release{mailbox_};
    const TAnswer a = dialogs_.Ask(TMessageKind::Confirmation, kCaption,
                                   running.size() > 1
                                       ? "Are you sure to stop the conversion of the current files?"
                                       : "Are you sure to stop the conversion of the current file?",
                                   {TAnswer::Yes, TAnswer::No, TAnswer::YesToAll});
    if (a == TAnswer::YesToAll)
        cancelAll_ = true;
    if (a == TAnswer::Yes || a == TAnswer::YesToAll)
        for (const auto& [lane, row] : running)
            if (lane->Busy() && lane->Row() == row)
                lane->Cancel();
}

void TConversionRun::SetCancelCurrent() {
    for (const auto& lane : lanes_)
        if (lane->Busy())
            lane->Cancel();
}

void TConversionRun::SetCancelAll() {
    cancelAll_ = true;
    SetCancelCurrent();
}

std::string TConversionRun::ElapsedText() const {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(endTime_ - startTime_).count();
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

void TConversionRun::TRowDialogs::Show(TMessageKind kind, const std::string& caption,
                                       const std::string& text) {
    if (kind == TMessageKind::Error)
        run_.rows_[run_.currentRow_].Reason = text;
    run_.dialogs_.Show(kind, caption, text);
}

void TConversionRun::SetStatus(const std::string& status) {
    rows_[currentRow_].Status = status;
    observer_.RowStatusChanged(currentRow_, status);
}

void TConversionRun::SetItemPercent(int percent) {
    itemPercent_ = percent;
    observer_.ItemPercentChanged(percent);
}

} // namespace bw
