#include "cli/convertcommand.h"

#include "cd/cddrives.h"
#include "cd/cdtrackitem.h"
#include "cli/cdcommand.h"
#include "cli/clioptions.h"
#include "cli/terminalprogress.h"
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
#include <sys/ioctl.h>
#include <unistd.h>

namespace bw {

namespace {

constexpr const char* kUsage = "(see brindlewave-cli help convert)";
constexpr int kPlainStep = 10; // plain progress lines every this many percent
constexpr size_t kDefaultColumns = 80; // a terminal that does not say its width

// The user at the message boxes, when there is no user: messages are said on the error
// output, and every question is answered with its safe choice (No).
class TCliDialogs final : public TDialogs {
public:
    explicit TCliDialogs(std::function<void(const std::string&)> say) : say_(std::move(say)) {}
    void Show(TMessageKind, const std::string&, const std::string& text) override {
        say_("brindlewave-cli: " + text);
    }
    TAnswer Ask(TMessageKind, const std::string&, const std::string&,
                const std::vector<TAnswer>& buttons) override {
        for (TAnswer a : buttons)
            if (a == TAnswer::No || a == TAnswer::Cancel)
                return a;
        return buttons.empty() ? TAnswer::Ok : buttons.back();
    }

private:
    std::function<void(const std::string&)> say_;
};

// The run's progress on the error output: on a terminal a block with every running file,
// redrawn in place; elsewhere plain lines, each file's name and every tenth percent.
class TCliProgress final : public TConversionObserver {
public:
    TCliProgress(std::ostream& err, bool terminal, size_t total, std::function<void(size_t)> rowEnded)
        : err_(err), rowEnded_(std::move(rowEnded)) {
        if (terminal) {
            winsize size{};
            const bool known = ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0;
            block_.emplace(err, total, known ? size.ws_col : kDefaultColumns);
        }
    }

    void SetRun(TConversionRun* run, const std::vector<TConversionRow>* rows) {
        run_ = run;
        rows_ = rows;
    }
    void ProcessEvents() override {
        if (TStopSignals::Received() != 0 && run_)
            run_->SetCancelAll();
    }
    // A line of its own, above the block on a terminal.
    void Say(const std::string& line) {
        if (block_)
            block_->Say(line);
        else
            err_ << line << "\n";
    }
    // A file refused before the run, or one it never came to, for the count.
    void Counted(const std::string& status) {
        if (block_)
            block_->Ended(SIZE_MAX, status);
    }
    void Finish(const std::string& elapsed) {
        if (block_)
            block_->Finish(elapsed);
    }

    void FromToChanged(const std::string& from, const std::string& to) override {
        if (from.empty() || block_)
            return;
        err_ << from << " -> " << to << "\n";
        lastShown_ = -1;
        name_ = std::filesystem::path(to).filename().string();
        ItemPercentChanged(0);
    }
    void ItemPercentChanged(int percent) override {
        if (block_ || percent == lastShown_)
            return;
        if (lastShown_ < 0 || percent >= lastShown_ + kPlainStep || percent == 100) {
            err_ << percent << "% " << name_ << "\n";
            lastShown_ = percent;
        }
    }
    void RowPercentChanged(size_t row, int percent) override {
        if (block_)
            block_->Percent(row, percent);
    }
    void RowNoteChanged(size_t, const std::string& note) override { Say("brindlewave-cli: " + note); }
    void RowStatusChanged(size_t row, const std::string& status) override {
        if (status == "Coverting...") {
            if (block_)
                block_->Started(row, RowName(row));
            return;
        }
        Say(status + ": " + RowName(row));
    }
    void RowEnded(size_t row) override {
        if (block_)
            block_->Ended(row, rows_ && row < rows_->size() ? (*rows_)[row].Status : "Error");
        rowEnded_(row);
    }

private:
    // With several files at once the row that changes is not always the last one started.
    std::string RowName(size_t row) const {
        return rows_ && row < rows_->size()
                   ? std::filesystem::path((*rows_)[row].Item.TargetPath).filename().string()
                   : name_;
    }
    std::ostream& err_;
    std::function<void(size_t)> rowEnded_;
    std::optional<TTerminalProgress> block_;
    TConversionRun* run_ = nullptr;
    const std::vector<TConversionRow>* rows_ = nullptr;
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
    bool Quiet = false;    // nothing but the JSON lines
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
    // --musicbrainz-server: the MusicBrainz service to ask first, instead of the stored one.
    std::optional<std::string> MusicBrainzServer;
    // --release: the MusicBrainz release to name the tracks from, instead of the first by date.
    std::optional<std::string> Release;
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

// "mp3|ogg|..." : the names --to takes, from the target list.
std::vector<std::string> TargetNames() {
    std::vector<std::string> names;
    for (int i = 0; i < kTargetTypeCount; ++i)
        names.push_back(TargetExtension(static_cast<TTargetType>(i)).substr(1));
    return names;
}

std::string Joined(const std::vector<std::string>& parts, std::string_view separator) {
    std::string text;
    for (const std::string& p : parts)
        text += (text.empty() ? "" : std::string(separator)) + p;
    return text;
}

// A whole number within min..max, or false.
bool WholeNumber(const std::string& text, int min, int max, int& value) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value >= min && value <= max;
}

// An option whose value is kept as it is typed.
TCliOption Text(std::string name, std::string valueName, std::string byDefault, std::string help,
                std::optional<std::string>& field) {
    return {std::move(name), std::move(valueName), std::move(byDefault), std::move(help),
            [&field](const std::string& v, std::string&) {
                field = v;
                return true;
            }};
}

// The options of convert, each filling args.
std::vector<TCliOption> ConvertOptions(TConvertArgs& args) {
    return {
        {"--to", "TYPE", "",
         "the target type, required: " + Joined(TargetNames(), ", "),
         [&args](const std::string& v, std::string& error) {
             args.Target = TargetTypeFromName(v);
             if (!args.Target)
                 error = "unknown target type '" + v + "'" + DidYouMean(v, TargetNames());
             return args.Target.has_value();
         }},
        Text("--out", "DIR", "the current folder", "the folder the outputs go to; made when missing",
             args.OutFolder),
        CliSwitch("--same-as-source", "each output goes beside its source", args.SameAsSource),
        Text("--preset", "NAME", "the pages' defaults",
             "start from the first quality preset of that name (see presets)", args.Preset),
        {"--set", "NAME=VALUE", "",
         "set one encoder option by the name a preset stores it under, after the preset, in the "
         "order given; VALUE is the position in the page's list or slider (0 the first entry, "
         "0/1 for a check box), see brindlewave-cli options for every NAME and what each "
         "position selects",
         [&args](const std::string& setting, std::string& error) {
             const size_t eq = setting.find('=');
             if (eq == std::string::npos) {
                 error = "--set takes NAME=VALUE, not '" + setting + "'";
                 return false;
             }
             // Checked now, so a bad setting is refused before any preset is looked up.
             TEncoderOptions scratch;
             std::string name = setting.substr(0, eq);
             std::string value = setting.substr(eq + 1);
             if (!SetEncoderOption(scratch, name, value, &error)) {
                 if (!EncoderOptionRange(name))
                     error += DidYouMean(name, EncoderOptionNames());
                 return false;
             }
             args.Settings.emplace_back(std::move(name), std::move(value));
             return true;
         }},
        {"--tag", "NAME=VALUE", "",
         "set one tag of every output as the tag editor does: Title, Artist, Album, Year, Genre, "
         "Track, Comment (Track only for a single file)",
         [&args](const std::string& tag, std::string& error) {
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
             return true;
         }},
        CliSwitch("--overwrite", "replace an existing output; without it the output is kept", args.Overwrite),
        {"--jobs", "N", "one per processor core",
         "convert up to N files at once, 1.." + std::to_string(kMaxParallelJobs),
         [&args](const std::string& v, std::string& error) {
             int jobs = 0;
             if (!WholeNumber(v, 1, kMaxParallelJobs, jobs)) {
                 error = "--jobs takes a whole number from 1 to " + std::to_string(kMaxParallelJobs) +
                         ", not '" + v + "'";
                 return false;
             }
             args.Jobs = jobs;
             return true;
         }},
        {"--replaygain", "off|track|album", "the program's setting (off when never set)",
         "write ReplayGain tags measured while converting: per track, or per track and album",
         [&args](const std::string& v, std::string& error) {
             static constexpr std::array<std::string_view, 3> kModes{"off", "track", "album"};
             const auto mode = std::find(kModes.begin(), kModes.end(), v);
             if (mode == kModes.end()) {
                 error = "--replaygain takes off, track or album, not '" + v + "'";
                 return false;
             }
             args.ReplayGain = static_cast<int>(mode - kModes.begin());
             return true;
         }},
        CliSwitch("--recursive", "take the audio files below each FOLDER", args.Recursive),
        CliSwitch("--keep-structure", "put each output under the folder's name and the path below it",
               args.KeepStructure),
        CliSwitch("--skip-existing", "pass over a file whose output is newer than it (as Done)",
               args.SkipExisting),
        CliSwitch("--safe-names", "make every output name one FAT and Windows accept", args.SafeNames),
        CliSwitch("--no-covers", "leave the front cover of a source out of its output", args.NoCovers),
        CliSwitch("--quiet", "print only the JSON lines: no progress and no messages on the error output",
               args.Quiet),
        Text("--cd", "DRIVE", "",
             "rip the audio tracks of a disc instead of files: DRIVE as for cd tracks (an index, "
             "a device path or a .cue/.toc image)",
             args.Cd),
        {"--tracks", "LIST", "every audio track", "with --cd: the tracks to rip, such as 1,3-5",
         [&args](const std::string& v, std::string& error) {
             if (!ParseTrackList(v, args.Tracks)) {
                 error = "--tracks takes track numbers such as 1,3-5, not '" + v + "'";
                 return false;
             }
             return true;
         }},
        Text("--server", "HOST[:PORT]", "the server in the program's settings",
             "with --cd: the disc database to name the tracks from", args.Server),
        Text("--musicbrainz-server", "URL", "the server in the program's settings",
             "with --cd: the MusicBrainz server asked before the disc database", args.MusicBrainzServer),
        Text("--release", "MBID", "the first release by date",
             "with --cd: the MusicBrainz release to name the tracks from", args.Release),
        CliSwitch("--no-lookup", "with --cd: name the tracks without MusicBrainz or the disc database",
                  args.NoLookup),
        CliSwitch("--no-accuraterip", "with --cd: do not compare the rip with the AccurateRip database",
               args.NoAccurateRip),
        Text("--accuraterip-server", "HOST[:PORT]", "the server in the program's settings",
             "with --cd: the AccurateRip database to compare the rip with", args.AccurateRipServer),
        {"--read-offset", "N", "the drive's stored offset",
         "with --cd: the drive's read offset in samples for this run, -" + std::to_string(kMaxReadOffset) +
             ".." + std::to_string(kMaxReadOffset),
         [&args](const std::string& v, std::string& error) {
             int offset = 0;
             if (!WholeNumber(v, -kMaxReadOffset, kMaxReadOffset, offset)) {
                 error = "--read-offset takes a whole number of samples from -" +
                         std::to_string(kMaxReadOffset) + " to " + std::to_string(kMaxReadOffset) +
                         ", not '" + v + "'";
                 return false;
             }
             args.ReadOffset = offset;
             return true;
         }},
    };
}

// Fills args from the command line; false with the reason in error.
bool ParseArgs(const std::vector<std::string>& argv, TConvertArgs& args, std::string& error) {
    if (!ParseCliOptions(ConvertOptions(args), argv, args.Files, error))
        return false;
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
    else if ((args.MusicBrainzServer || args.Release) && (args.NoLookup || !args.Cd))
        error = "--musicbrainz-server and --release need --cd and exclude --no-lookup";
    else if (args.AccurateRipServer && (args.NoAccurateRip || !args.Cd))
        error = "--accuraterip-server needs --cd and excludes --no-accuraterip";
    else if (args.Cd && args.SameAsSource)
        error = "the tracks of a disc have no source folder: use --out";
    else if (args.Files.empty() && !args.Cd)
        error = "no files given";
    return error.empty();
}

} // namespace

TCliCommand ConvertCliCommand() {
    return {"convert",
            {"convert --to TYPE [OPTION]... FILE|FOLDER...", "convert --to TYPE --cd DRIVE [OPTION]..."},
            "convert files, or rip the tracks of a disc, to a target type",
            "Converts each file to the target type with the encoder options of the program's pages: "
            "their defaults, or a quality preset, with each --set on top in the order given. An "
            "existing output is kept unless --overwrite. A FOLDER stands for the audio files in it; "
            "what it holds that cannot be read is an Error line. With --cd the audio tracks of a disc "
            "are ripped instead, named from the disc database. One JSON object a line gives the "
            "outcome of each file or track as it ends (SourcePath, TargetPath, Status, and a Reason "
            "when it is not Done); progress and messages go to the error output.",
            {"convert --to flac --out ~/Music/flac --recursive ~/Music/wav",
             "convert --to mp3 --preset \"CD Quality\" --set MP3BitRate=13 --jobs 2 --cd 0 --tracks 1-3"},
            [] {
                static TConvertArgs scratch;
                return ConvertOptions(scratch);
            },
            [](const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
                return RunConvertCommand(args, out, err, isatty(STDERR_FILENO) == 1);
            }};
}

namespace {

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
        TAppSettings cdSettings = CliCdSettings(args.Server, args.MusicBrainzServer);
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
        cdSettings.CarryCovers = settings.CarryCovers; // no cover is fetched that is not carried
        std::vector<TmyMusicFile> items;
        if (!CliCdTrackItems(drives, *args.Cd, cdSettings, items, err, args.Release))
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
    std::vector<bool> printed(rows.size(), false);
    // With --quiet the run says nothing beside its JSON lines: an ostream without a buffer
    // drops what it is given.
    std::ostream silent(nullptr);
    std::ostream& talk = args.Quiet ? silent : err;
    std::function<void(size_t, const std::string&)> printRow;
    TCliProgress progress(talk, errIsTerminal && !args.Quiet, rows.size() + refused.size(),
                          [&](size_t row) { printRow(row, rows[row].Reason); });
    printRow = [&](size_t i, const std::string& reason) {
        const TConversionRow& row = rows[i];
        // Errors were said as they came; a row skipped without one says why here.
        if (row.Status == "-" && !reason.empty())
            progress.Say("brindlewave-cli: " + row.Item.SourcePath + ": " + reason);
        print(row.Item.SourcePath, row.Item.TargetPath, row.Status, reason, &row.Item);
        printed[i] = true;
    };
    for (const auto& [path, reason] : refused) {
        progress.Say("brindlewave-cli: " + path + ": " + reason);
        progress.Counted("Error");
        print(path, "", "Error", reason);
    }

    TCliDialogs dialogs([&progress](const std::string& line) { progress.Say(line); });
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
        progress.Counted(row.Status);
        printRow(i, reason);
    }
    progress.Finish(run.ElapsedText());
    // Ended by a signal: the shell's convention for it.
    return stopSignal != 0 ? 128 + stopSignal : status;
}

} // namespace bw
