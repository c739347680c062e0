#include "cli/convertcommand.h"

#include "cd/cddrives.h"
#include "cd/cdtrackitem.h"
#include "cli/cdcommand.h"
#include "common/json.h"
#include "common/stopsignals.h"
#include "encoders/encoderoptions.h"
#include "encoders/targettype.h"
#include "shell/appsettings.h"
#include "shell/conversionrun.h"
#include "shell/disclookup.h"
#include "shell/folderscan.h"
#include "shell/naming.h"
#include "shell/presets.h"
#include "shell/probe.h"
#include "shell/settingsstore.h"
#include "shell/tagedit.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>

namespace bw {

namespace {

constexpr const char* kUsage =
    "usage: brindlewave-cli convert --to mp3|ogg|wav|wma|flac|ape|mpc|wv|opus|m4a [--out DIR | "
    "--same-as-source] [--preset NAME] [--set NAME=VALUE]... [--tag NAME=VALUE]... [--overwrite] [--jobs N]\n"
    "       [--replaygain off|track|album]\n"
    "       [--recursive] [--keep-structure] [--skip-existing] [--safe-names] [--no-covers] [--] FILE|FOLDER...\n"
    "       brindlewave-cli convert --cd DRIVE [--tracks LIST] [--server HOST[:PORT] | --no-lookup]\n"
    "       [--no-accuraterip | --accuraterip-server HOST[:PORT]]\n"
    "       [--read-offset N] --to ... (the same options)";
constexpr int kBarWidth = 30;
constexpr int kPlainStep = 10; // plain progress lines every this many percent

// The user at the message boxes, when there is no user: messages go to the error output,
// and every question is answered with its safe choice (No).
class TCliDialogs final : public TDialogs {
public:
    explicit TCliDialogs(std::ostream& err) : err_(err) {}
    void Show(TMessageKind, const std::string&, const std::string& text) override {
        err_ << "brindlewave-cli: " << text << "\n";
    }
    TAnswer Ask(TMessageKind, const std::string&, const std::string&,
                const std::vector<TAnswer>& buttons) override {
        for (TAnswer a : buttons)
            if (a == TAnswer::No || a == TAnswer::Cancel)
                return a;
        return buttons.empty() ? TAnswer::Ok : buttons.back();
    }

private:
    std::ostream& err_;
};

class TCliProgress final : public TConversionObserver {
public:
    TCliProgress(std::ostream& err, bool terminal, std::function<void(size_t)> rowEnded)
        : err_(err), terminal_(terminal), rowEnded_(std::move(rowEnded)) {}
    ~TCliProgress() override { EndBar(); }

    void SetRun(TConversionRun* run, const std::vector<TConversionRow>* rows) {
        run_ = run;
        rows_ = rows;
    }
    void ProcessEvents() override {
        if (TStopSignals::Received() != 0 && run_)
            run_->SetCancelAll();
    }

    void FromToChanged(const std::string& from, const std::string& to) override {
        if (from.empty())
            return;
        EndBar();
        err_ << from << " -> " << to << "\n";
        lastShown_ = -1;
        name_ = std::filesystem::path(to).filename().string();
        ItemPercentChanged(0);
    }
    void ItemPercentChanged(int percent) override {
        if (percent == lastShown_)
            return;
        if (terminal_) {
            const int filled = percent * kBarWidth / 100;
            err_ << "\r[" << std::string(static_cast<size_t>(filled), '#')
                 << std::string(static_cast<size_t>(kBarWidth - filled), ' ') << "] " << percent
                 << "% " << name_ << std::flush;
            barOpen_ = true;
            lastShown_ = percent;
        } else if (lastShown_ < 0 || percent >= lastShown_ + kPlainStep || percent == 100) {
            err_ << percent << "% " << name_ << "\n";
            lastShown_ = percent;
        }
    }
    void RowNoteChanged(size_t, const std::string& note) override {
        EndBar();
        err_ << "brindlewave-cli: " << note << "\n";
    }
    void RowStatusChanged(size_t row, const std::string& status) override {
        if (status == "Coverting...")
            return;
        EndBar();
        // With several files at once the row that ends is not always the one on the bar.
        const std::string name = rows_ && row < rows_->size()
                                     ? std::filesystem::path((*rows_)[row].Item.TargetPath).filename().string()
                                     : name_;
        err_ << status << ": " << name << "\n";
    }
    void RowEnded(size_t row) override {
        EndBar();
        rowEnded_(row);
    }

private:
    void EndBar() {
        if (barOpen_)
            err_ << "\n";
        barOpen_ = false;
    }
    std::ostream& err_;
    bool terminal_;
    std::function<void(size_t)> rowEnded_;
    TConversionRun* run_ = nullptr;
    const std::vector<TConversionRow>* rows_ = nullptr;
    bool barOpen_ = false;
    int lastShown_ = -1;
    std::string name_;
};

struct TConvertArgs {
    std::optional<TTargetType> Target;
    std::optional<std::string> OutFolder;
    bool SameAsSource = false;
    bool Overwrite = false;
    // The library switches: folders with their sub-folders, outputs in the same tree,
    // outputs newer than their sources left alone, names FAT accepts.
    bool Recursive = false;
    bool KeepStructure = false;
    bool SkipExisting = false;
    bool SafeNames = false;
    bool NoCovers = false; // the source's cover is not carried into the output
    // --jobs: files converted at once; one per processor core when not given.
    std::optional<int> Jobs;
    // --replaygain off|track|album: the loudness tags; the settings' default when not given.
    std::optional<int> ReplayGain;
    std::optional<std::string> Preset;
    // NAME=VALUE settings in the order given; they apply after the preset.
    std::vector<std::pair<std::string, std::string>> Settings;
    // --tag NAME=VALUE edits in the order given, applied to every item as the tag editor does.
    std::vector<std::pair<TTagField, std::string>> Tags;
    std::vector<std::string> Files;
    // --cd: a drive index, a device path or a disc image; --tracks: the track numbers.
    std::optional<std::string> Cd;
    std::vector<int> Tracks;
    // --server: the disc database to name the tracks from, instead of the stored one.
    std::optional<std::string> Server;
    bool NoLookup = false; // --no-lookup: the disc is not looked up, whatever the settings say
    bool NoAccurateRip = false; // --no-accuraterip: the rip is not compared with the database
    // --accuraterip-server: the database to compare the rip with, instead of the stored one.
    std::optional<std::string> AccurateRipServer;
    // --read-offset: the drive's read offset in samples for this run, instead of the stored one.
    std::optional<int> ReadOffset;
};

// "1,3-5" as track numbers; false for anything else.
bool ParseTrackList(const std::string& text, std::vector<int>& tracks) {
    size_t pos = 0;
    while (pos <= text.size()) {
        const size_t comma = std::min(text.find(',', pos), text.size());
        const std::string part = text.substr(pos, comma - pos);
        const size_t dash = part.find('-');
        int first = 0, last = 0;
        const auto number = [](std::string_view s, int& v) {
            const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
            return ec == std::errc() && end == s.data() + s.size() && v >= 1 && v <= 99;
        };
        if (dash == std::string::npos ? !number(part, first)
                                      : !number(std::string_view(part).substr(0, dash), first) ||
                                            !number(std::string_view(part).substr(dash + 1), last))
            return false;
        if (dash == std::string::npos)
            last = first;
        if (last < first)
            return false;
        for (int t = first; t <= last; ++t)
            tracks.push_back(t);
        pos = comma + 1;
    }
    return true;
}

// Fills args from the command line; false with the reason in error.
bool ParseArgs(const std::vector<std::string>& argv, TConvertArgs& args, std::string& error) {
    bool filesOnly = false;
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& a = argv[i];
        const bool hasValue = i + 1 < argv.size();
        if (filesOnly || a.empty() || a.front() != '-' || a == "-") {
            args.Files.push_back(a);
        } else if (a == "--") {
            filesOnly = true;
        } else if (a == "--to" && hasValue) {
            args.Target = TargetTypeFromName(argv[++i]);
            if (!args.Target) {
                error = "unknown target type '" + argv[i] + "'";
                return false;
            }
        } else if (a == "--out" && hasValue) {
            args.OutFolder = argv[++i];
        } else if (a == "--same-as-source") {
            args.SameAsSource = true;
        } else if (a == "--overwrite") {
            args.Overwrite = true;
        } else if (a == "--recursive") {
            args.Recursive = true;
        } else if (a == "--keep-structure") {
            args.KeepStructure = true;
        } else if (a == "--skip-existing") {
            args.SkipExisting = true;
        } else if (a == "--safe-names") {
            args.SafeNames = true;
        } else if (a == "--no-covers") {
            args.NoCovers = true;
        } else if (a == "--replaygain" && hasValue) {
            const std::string& v = argv[++i];
            static constexpr std::array<std::string_view, 3> kModes{"off", "track", "album"};
            const auto mode = std::find(kModes.begin(), kModes.end(), v);
            if (mode == kModes.end()) {
                error = "--replaygain takes off, track or album, not '" + v + "'";
                return false;
            }
            args.ReplayGain = static_cast<int>(mode - kModes.begin());
        } else if (a == "--jobs" && hasValue) {
            const std::string& v = argv[++i];
            int jobs = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), jobs);
            if (ec != std::errc() || end != v.data() + v.size() || jobs < 1 || jobs > kMaxParallelJobs) {
                error = "--jobs takes a whole number from 1 to " + std::to_string(kMaxParallelJobs) +
                        ", not '" + v + "'";
                return false;
            }
            args.Jobs = jobs;
        } else if (a == "--read-offset" && hasValue) {
            const std::string& v = argv[++i];
            int offset = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), offset);
            if (ec != std::errc() || end != v.data() + v.size() || offset < -kMaxReadOffset ||
                offset > kMaxReadOffset) {
                error = "--read-offset takes a whole number of samples from -" +
                        std::to_string(kMaxReadOffset) + " to " + std::to_string(kMaxReadOffset) +
                        ", not '" + v + "'";
                return false;
            }
            args.ReadOffset = offset;
        } else if (a == "--cd" && hasValue) {
            args.Cd = argv[++i];
        } else if (a == "--no-lookup") {
            args.NoLookup = true;
        } else if (a == "--no-accuraterip") {
            args.NoAccurateRip = true;
        } else if (a == "--accuraterip-server" && hasValue) {
            args.AccurateRipServer = argv[++i];
        } else if (a == "--server" && hasValue) {
            args.Server = argv[++i];
        } else if (a == "--tracks" && hasValue) {
            if (!ParseTrackList(argv[++i], args.Tracks)) {
                error = "--tracks takes track numbers such as 1,3-5, not '" + argv[i] + "'";
                return false;
            }
        } else if (a == "--preset" && hasValue) {
            args.Preset = argv[++i];
        } else if (a == "--set" && hasValue) {
            const std::string& setting = argv[++i];
            const size_t eq = setting.find('=');
            if (eq == std::string::npos) {
                error = "--set takes NAME=VALUE, not '" + setting + "'";
                return false;
            }
            // Checked now, so a bad setting is refused before any preset is looked up.
            TEncoderOptions scratch;
            std::string name = setting.substr(0, eq);
            std::string value = setting.substr(eq + 1);
            if (!SetEncoderOption(scratch, name, value, &error))
                return false;
            args.Settings.emplace_back(std::move(name), std::move(value));
        } else if (a == "--tag" && hasValue) {
            const std::string& tag = argv[++i];
            const size_t eq = tag.find('=');
            const auto field = TagFieldFromName(std::string_view(tag).substr(0, std::min(eq, tag.size())));
            if (eq == std::string::npos || !field) {
                error = "--tag takes NAME=VALUE with NAME one of Title, Artist, Album, Year, Genre, "
                        "Track, Comment, not '" + tag + "'";
                return false;
            }
            // The value is taken as the editor's field would hold it; a track field takes
            // nothing but digits.
            const std::string_view typed = std::string_view(tag).substr(eq + 1);
            if (*field == TTagField::Track && !std::all_of(typed.begin(), typed.end(), [](char c) {
                    return TrackCharAccepted(static_cast<unsigned char>(c));
                })) {
                error = "--tag " + tag + ": a track number is written in digits only";
                return false;
            }
            std::string value = FieldTextAsEdited(*field, typed);
            TmyMusicFile scratch;
            if (!ApplyTagEdit(scratch, *field, value, &error)) {
                error = "--tag " + tag + ": " + error;
                return false;
            }
            args.Tags.emplace_back(*field, std::move(value));
        } else {
            error = "unknown option or missing value: '" + a + "'";
            return false;
        }
    }
    if (!args.Target)
        error = "--to is required";
    else if (args.OutFolder && args.SameAsSource)
        error = "--out and --same-as-source exclude each other";
    else if (args.Cd && !args.Files.empty())
        error = "--cd converts the tracks of a disc, not files as well";
    else if (!args.Cd && !args.Tracks.empty())
        error = "--tracks needs --cd";
    else if (!args.Cd && args.Server)
        error = "--server needs --cd";
    else if (!args.Cd && args.ReadOffset)
        error = "--read-offset needs --cd";
    else if (!args.Cd && args.NoLookup)
        error = "--no-lookup needs --cd";
    else if (args.Server && args.NoLookup)
        error = "--server and --no-lookup exclude each other";
    else if (args.AccurateRipServer && (args.NoAccurateRip || !args.Cd))
        error = "--accuraterip-server needs --cd and excludes --no-accuraterip";
    else if (args.Cd && args.SameAsSource)
        error = "the tracks of a disc have no source folder: use --out";
    else if (args.Files.empty() && !args.Cd)
        error = "no files given";
    return error.empty();
}

std::string Hex8(uint32_t v) {
    char text[9];
    std::snprintf(text, sizeof text, "%08X", v);
    return text;
}

// item: a row's item, for a CD track's rip checksums and verdict; none for the refused.
std::string ResultLine(const std::string& source, const std::string& target,
                       const std::string& status, const std::string& reason,
                       const TmyMusicFile* item = nullptr) {
    TJsonObject o;
    o.Add("SourcePath", source).Add("TargetPath", target).Add("Status", status);
    if (!reason.empty())
        o.Add("Reason", reason);
    if (item && item->RipChecked) {
        if (!item->AccurateRip.empty())
            o.Add("AccurateRip", item->AccurateRip).Add("Confidence", item->Confidence);
        o.Add("CrcV1", Hex8(item->CrcV1)).Add("CrcV2", Hex8(item->CrcV2));
        o.Add("CopyCrc", Hex8(item->CopyCrc));
    }
    return o.Str();
}

// The --tag edits on every row, then the CD tracks renamed from their new tags, as the
// tag editor's OK does. A track number names one file, so it is refused for more.
bool ApplyTagEdits(std::vector<TConversionRow>& rows,
                   const std::vector<std::pair<TTagField, std::string>>& tags,
                   const TAppSettings& settings, std::string& error) {
    if (tags.empty())
        return true;
    const bool track = std::any_of(tags.begin(), tags.end(),
                                   [](const auto& t) { return t.first == TTagField::Track; });
    if (track && rows.size() > 1) {
        error = "--tag Track names the track of one file, and this run has " +
                std::to_string(rows.size());
        return false;
    }
    const TNamePattern pattern = TNamePattern::FromSettings(settings);
    for (TConversionRow& row : rows) {
        for (const auto& [field, value] : tags)
            ApplyTagEdit(row.Item, field, value);
        RenameTrackItem(row.Item, pattern);
    }
    return true;
}

} // namespace

int RunConvertCommand(const std::vector<std::string>& argv, std::ostream& out, std::ostream& err,
                      bool errIsTerminal) {
    TConvertArgs args;
    std::string error;
    if (!ParseArgs(argv, args, error)) {
        err << "brindlewave-cli convert: " << error << "\n" << kUsage << "\n";
        return 2;
    }
    const TTargetType target = *args.Target;

    // The options: the pages' defaults, or a preset from the settings the window uses, with
    // every --set on top in the order given.
    TEncoderOptions options;
    if (args.Preset) {
        const TSettingsStore store;
        const auto load = LoadPresetByName(store, *args.Preset, options);
        if (!load) {
            err << "brindlewave-cli convert: unknown preset '" << *args.Preset << "'\n" << kUsage << "\n";
            return 2;
        }
        if (!load->Error.empty()) {
            err << "brindlewave-cli convert: preset '" << *args.Preset << "': " << load->Error << "\n";
            return 2;
        }
    }
    for (const auto& [name, value] : args.Settings)
        SetEncoderOption(options, name, value, nullptr);

    TAppSettings settings = DefaultAppSettings();
    settings.OverwriteWithoutAsking = args.Overwrite;
    if (args.Jobs)
        settings.ParallelJobs = *args.Jobs;
    if (args.ReplayGain)
        settings.ReplayGainMode = *args.ReplayGain;
    settings.KeepStructure = args.KeepStructure;
    settings.SkipExisting = args.SkipExisting;
    settings.SafeNames = args.SafeNames;
    settings.CarryCovers = !args.NoCovers;
    // A folder that does not exist yet is made by the run.
    std::error_code ec;
    const std::string folder = args.OutFolder ? CommandLinePath(*args.OutFolder)
                                              : std::filesystem::current_path(ec).string();
    settings.OutputFolder = WithTrailingSeparator(folder);

    // Files the job list would refuse are reported, not converted.
    TFileProbe probe;
    std::vector<TConversionRow> rows;
    std::vector<std::pair<std::string, std::string>> refused; // path, reason
    for (const TFoundFile& found : ExpandFolders(args.Files, args.Recursive)) {
        auto result = ProbeFoundFile(probe, found);
        if (!result)
            continue; // what a folder holds besides audio (covers, playlists) is not an error
        if (!result->Accepted) {
            refused.emplace_back(found.Path, result->Reason.empty() ? "not an audio file this program reads"
                                                                    : result->Reason);
            continue;
        }
        rows.push_back({std::move(result->Item), true, "-"});
    }
    // The drives: a disc's tracks are read from one, .cda files are looked up in them.
    TCdDriveList drives;
    drives.Fill();
    // The lookups and the rip's verification need an application object while they run.
    std::optional<TCliCoreApp> app;
    if (args.Cd) {
        app.emplace();
        TAppSettings cdSettings = CliCdSettings(args.Server);
        settings.VerifyAccurateRip = cdSettings.VerifyAccurateRip && !args.NoAccurateRip;
        settings.AccurateRipServer = args.AccurateRipServer.value_or(cdSettings.AccurateRipServer);
        settings.Timeout = cdSettings.Timeout;
        cdSettings.TryLoadFreeDB = cdSettings.TryLoadFreeDB && !args.NoLookup;
        settings.TryLoadFreeDB = cdSettings.TryLoadFreeDB;
        settings.fint = cdSettings.fint;
        settings.fstr = cdSettings.fstr;
        settings.Separator = cdSettings.Separator;
        settings.WriteRipLog = cdSettings.WriteRipLog;
        settings.ReadOffsets = cdSettings.ReadOffsets;
        std::vector<TmyMusicFile> items;
        if (!CliCdTrackItems(drives, *args.Cd, cdSettings, items, err))
            return 1;
        if (items.empty()) {
            err << "brindlewave-cli convert: " << *args.Cd << ": the disc has no audio tracks\n";
            return 1;
        }
        if (args.ReadOffset)
            settings.ReadOffsets[drives.At(items.front().CdDrive).Model] = *args.ReadOffset;
        for (TmyMusicFile& item : items) {
            if (!args.Tracks.empty() &&
                std::find(args.Tracks.begin(), args.Tracks.end(), item.Track) == args.Tracks.end())
                continue;
            rows.push_back({std::move(item), true, "-"});
        }
        for (const int t : args.Tracks)
            if (std::none_of(rows.begin(), rows.end(), [t](const TConversionRow& r) { return r.Item.Track == t; }))
                refused.emplace_back("CD Track " + std::to_string(t),
                                     "the disc has no audio track " + std::to_string(t));
    }

    if (!ApplyTagEdits(rows, args.Tags, settings, error)) {
        err << "brindlewave-cli convert: " << error << "\n";
        return 2;
    }

    // Each outcome goes out as soon as it is known: the refused before the run, every row
    // when it ends (in the order they end when several convert at once).
    int status = 0;
    const auto print = [&out, &status](const std::string& source, const std::string& target,
                                       const std::string& rowStatus, const std::string& reason,
                                       const TmyMusicFile* item = nullptr) {
        out << ResultLine(source, target, rowStatus, reason, item) << "\n" << std::flush;
        if (rowStatus != "Done")
            status = 1;
    };
    for (const auto& [path, reason] : refused) {
        err << "brindlewave-cli: " << path << ": " << reason << "\n";
        print(path, "", "Error", reason);
    }
    std::vector<bool> printed(rows.size(), false);
    const auto printRow = [&](size_t i, const std::string& reason) {
        const TConversionRow& row = rows[i];
        // Errors were said as they came; a row skipped without one says why here.
        if (row.Status == "-" && !reason.empty())
            err << "brindlewave-cli: " << row.Item.SourcePath << ": " << reason << "\n";
        print(row.Item.SourcePath, row.Item.TargetPath, row.Status, reason, &row.Item);
        printed[i] = true;
    };

    TCliDialogs dialogs(err);
    TCliProgress progress(err, errIsTerminal, [&](size_t row) { printRow(row, rows[row].Reason); });
    TConversionRun run(rows, target, options, settings, dialogs, progress);
    run.SetSameAsSource(args.SameAsSource);
    run.SetCdDrives(&drives);
    progress.SetRun(&run, &rows);
    int stopSignal = 0;
    {
        TStopSignals stopSignals; // not "signals": Qt headers take that word
        run.Run();
        stopSignal = TStopSignals::Received();
    }

    // The rows the run never came to.
    for (size_t i = 0; i < rows.size(); ++i) {
        if (printed[i])
            continue;
        const TConversionRow& row = rows[i];
        std::string reason = row.Reason;
        if (row.Status == "-" && reason.empty() && stopSignal != 0)
            reason = "not converted: the tool was stopped";
        printRow(i, reason);
    }
    // Ended by a signal: the shell's convention for it.
    return stopSignal != 0 ? 128 + stopSignal : status;
}

} // namespace bw
