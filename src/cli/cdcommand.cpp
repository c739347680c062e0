#include "cli/cdcommand.h"

#include "cd/cddrives.h"
#include "cd/cdimage.h"
#include "cd/discids.h"
#include "cd/cdtrackitem.h"
#include "cli/clioptions.h"
#include "common/json.h"
#include "shell/disclookup.h"
#include "shell/naming.h"
#include "shell/probe.h"
#include "shell/settingsio.h"
#include "shell/settingskeys.h"
#include "shell/settingsstore.h"

#include <QCoreApplication>

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace bw {

namespace {

int Drives(const std::vector<std::string>& images, std::ostream& out, std::ostream& err,
           TCdSystem& system) {
    TCdDriveList list(system);
    list.Fill();
    int status = 0;
    for (const std::string& image : images) {
        std::string why;
        if (list.AddImage(image, &why) < 0) {
            err << "brindlewave-cli: " << why << "\n";
            status = 1;
        }
    }
    for (size_t i = 0; i < list.Count(); ++i) {
        TJsonObject o;
        o.Add("index", static_cast<int>(i)).Add("device", list.At(i).Path).Add("text", list.At(i).Text);
        out << o.Str() << "\n";
    }
    return status;
}

// The index of a drive given as an index, a device path or an image (added); -1 with the
// reason said on err.
int FindDrive(TCdDriveList& list, const std::string& drive, std::ostream& err) {
    int index = list.Find(drive);
    std::string why;
    if (index < 0 && IsCdImagePath(drive)) {
        index = list.AddImage(drive, &why);
        if (index < 0) {
            err << "brindlewave-cli: " << why << "\n";
            return -1;
        }
    }
    if (index < 0) {
        err << "brindlewave-cli: no CD drive \"" << drive << "\"\n";
        return -1;
    }
    return index;
}

int Tracks(const std::string& drive, std::ostream& out, std::ostream& err, TCdSystem& system) {
    TCdDriveList list(system);
    list.Fill();
    // Listed as the window lists them, without the disc database: that is what cd lookup is for.
    TAppSettings settings = CliCdSettings(std::nullopt);
    settings.TryLoadFreeDB = false;
    std::vector<TmyMusicFile> items;
    if (!CliCdTrackItems(list, drive, settings, items, err))
        return 1;
    for (const TmyMusicFile& item : items) {
        std::string json = JobItemJson(item);
        json.pop_back(); // reopen the object for one more key, as the probe does
        out << json << ",\"accepted\":true}\n";
    }
    return 0;
}

std::string TrackTitlesJson(const TCDInfo& info) {
    // As many titles as the disc has tracks (all the record holds when it names more).
    size_t count = info.Toc.TrackCount;
    for (size_t i = count; i < info.TrackTitles.size(); ++i)
        if (!info.TrackTitles[i].empty())
            count = i + 1;
    std::string json = "[";
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            json += ",";
        AppendJsonString(json, info.TrackTitles[i]);
    }
    return json + "]";
}

// Every release of the disc in MusicBrainz, one JSON object a line, the one the command
// line would take marked "Chosen"; false, said on err, when there is none.
bool ListMbReleases(TCdDriveList& list, int index, const TAppSettings& settings,
                    const std::optional<std::string>& releaseId, std::ostream& out, std::ostream& err) {
    const TMbAnswer answer = LookUpMusicBrainz(list, index, settings);
    if (answer.Kind != TMbAnswer::TKind::Found) {
        err << "brindlewave-cli: "
            << (answer.Kind == TMbAnswer::TKind::NotFound ? "The disc is not in MusicBrainz" : answer.Error)
            << "; looking the disc up in the freedb database\n";
        return false;
    }
    const std::optional<size_t> chosen = ChooseReleaseByDate(releaseId)(answer.Releases);
    if (!chosen)
        err << "brindlewave-cli: the release " << *releaseId
            << " does not carry this disc; looking the disc up in the freedb database\n";
    for (size_t i = 0; i < answer.Releases.size(); ++i) {
        const TMbRelease& r = answer.Releases[i];
        std::string titles = "[";
        for (const TMbTrack& t : r.Tracks) {
            if (titles.size() > 1)
                titles += ",";
            AppendJsonString(titles, t.Title);
        }
        // Each track as a rip of this release would carry it: its artist and the release's
        // fields with its ids.
        std::vector<TmyMusicFile> tracks(r.Tracks.size());
        for (size_t t = 0; t < tracks.size(); ++t) {
            tracks[t].SourceType = TSourceType::CdTrack;
            tracks[t].Track = static_cast<uint8_t>(std::min<size_t>(t + 1, 255));
        }
        ApplyMbRelease(tracks, r, nullptr, TNamePattern::FromSettings(settings));
        std::string trackJson = "[";
        for (const TmyMusicFile& t : tracks) {
            TJsonObject track;
            track.Add("Track", static_cast<int>(t.Track)).Add("Title", t.Title).Add("Artist", t.Artist);
            AddReleaseFields(track, t);
            trackJson += (trackJson.size() > 1 ? "," : "") + track.Str();
        }
        TJsonObject o;
        o.Add("ReleaseId", r.Id).Add("Release", r.Line()).Add("Artist", r.Artist).Add("Title", r.Title);
        o.Add("Date", r.Date).Add("Country", r.Country).Add("Label", r.Label).Add("Format", r.Format);
        o.Add("Medium", r.Medium).Add("Media", r.MediumCount).AddRaw("TrackTitles", titles + "]");
        o.AddRaw("Tracks", trackJson + "]").AddRaw("Chosen", chosen == i ? "true" : "false");
        out << o.Str() << "\n";
    }
    return chosen.has_value();
}

int Lookup(const std::string& drive, const TAppSettings& settings, const std::optional<std::string>& releaseId,
           std::ostream& out, std::ostream& err, TCdSystem& system) {
    TCdDriveList list(system);
    list.Fill();
    const int index = FindDrive(list, drive, err);
    if (index < 0)
        return 1;
    const TCliCoreApp app;
    if (settings.LookUpMusicBrainz && ListMbReleases(list, index, settings, releaseId, out, err))
        return 0;
    const auto cddb = CliLookUpDisc(list, index, settings, err);
    const TCDInfo& info = cddb->DiscInfo();
    TJsonObject o;
    o.Add("DiscId", info.DiscId).Add("Artist", info.Artist).Add("Title", info.Title).Add("Year", info.Year);
    o.Add("Genre", info.Genre).AddRaw("TrackTitles", TrackTitlesJson(info)).Add("Category", info.Category);
    o.Add("Revision", info.Revision).Add("LookupState", cddb->LookupState());
    out << o.Str() << "\n";
    return cddb->LookupState() == TLookupState::EntryRead ? 0 : 1;
}

// The disc ids of a table of contents read from a drive, or given as text.
int Ids(const std::string& drive, const std::optional<std::string>& tocText, std::ostream& out,
        std::ostream& err, TCdSystem& system) {
    TCDToc toc;
    if (tocText) {
        std::string why;
        if (!ParseTocText(*tocText, toc, why)) {
            err << "brindlewave-cli: --toc: " << why << "\n";
            return 2;
        }
    } else {
        TCdDriveList list(system);
        list.Fill();
        const int index = FindDrive(list, drive, err);
        if (index < 0)
            return 1;
        if (!list.ReadToc(index, toc)) {
            err << "brindlewave-cli: can't read the table of contents of \"" << drive << "\"\n";
            return 1;
        }
    }
    const TDiscIds ids = ComputeDiscIds(toc);
    char freedb[9];
    std::snprintf(freedb, sizeof freedb, "%08x", ids.FreedbId);
    std::string offsets = "[";
    for (const int32_t start : ids.AudioStarts)
        offsets += (offsets.size() > 1 ? "," : "") + std::to_string(start);
    TJsonObject o;
    o.Add("FreedbId", freedb).Add("AccurateRipId", ids.AccurateRipId());
    o.Add("AudioTracks", ids.AudioCount());
    o.AddRaw("TrackOffsets", offsets + "]").Add("LeadOut", ids.LeadOut);
    o.Add("MusicBrainzId", ids.MusicBrainzId);
    out << o.Str() << "\n";
    return 0;
}

} // namespace

namespace {
int gArgc = 1;
char gName[] = "brindlewave-cli";
char* gArgv[] = {gName, nullptr};
} // namespace

TCliCoreApp::TCliCoreApp() {
    if (!QCoreApplication::instance())
        app_ = std::make_unique<QCoreApplication>(gArgc, gArgv);
}

TCliCoreApp::~TCliCoreApp() = default;

TAppSettings CliCdSettings(const std::optional<std::string>& server,
                           const std::optional<std::string>& musicBrainzServer) {
    TAppSettings s = DefaultAppSettings();
    const TSettingsStore store;
    if (store.MainKeyExists()) {
        s.TryLoadFreeDB = store.ReadBool(keys::kTryLoadFreeDB).value_or(s.TryLoadFreeDB);
        if (const std::string v = store.ReadString(keys::kFreeDBServer); !v.empty())
            s.FreeDBServer = v;
        if (const std::string v = store.ReadString(keys::kFreeDBEmail); !v.empty())
            s.FreeDBEmail = v;
        s.Timeout = store.ReadInteger(keys::kTimeout).value_or(s.Timeout);
        s.VerifyAccurateRip =
            store.ReadBool(keys::kVerifyAccurateRip).value_or(s.VerifyAccurateRip);
        if (const std::string v = store.ReadString(keys::kAccurateRipServer); !v.empty())
            s.AccurateRipServer = v;
        s.WriteRipLog = store.ReadBool(keys::kWriteRipLog).value_or(s.WriteRipLog);
        s.LookUpMusicBrainz = store.ReadBool(keys::kLookUpMusicBrainz).value_or(s.LookUpMusicBrainz);
        for (const auto& [key, value] : {std::pair{keys::kMusicBrainzServer, &s.MusicBrainzServer},
                                         {keys::kMusicBrainzContact, &s.MusicBrainzContact},
                                         {keys::kCoverArtServer, &s.CoverArtServer}})
            if (const std::string v = store.ReadString(key); !v.empty())
                *value = v;
        s.ReadOffsets = LoadReadOffsets(store);
        s.Separator = store.ReadInteger(keys::kSeparator).value_or(s.Separator);
        for (size_t i = 0; i < s.fint.size(); ++i) {
            const QString n = QString::number(i);
            s.fint[i] = store.ReadBool(keys::kFintPrefix + n).value_or(s.fint[i]);
            if (const std::string v = store.ReadString(keys::kFstrPrefix + n); !v.empty())
                s.fstr[i] = v;
        }
    }
    if (server)
        s.FreeDBServer = *server;
    if (musicBrainzServer)
        s.MusicBrainzServer = *musicBrainzServer;
    return s;
}

std::unique_ptr<TCddb> CliLookUpDisc(TCdDriveList& drives, int drive, const TAppSettings& settings,
                                     std::ostream& err) {
    auto cddb = std::make_unique<TCddb>(drives);
    LookUpDisc(*cddb, drives, drive, settings,
               [&err](const std::string& line) { err << "brindlewave-cli: " << line << "\n"; });
    return cddb;
}

bool CliCdTrackItems(TCdDriveList& drives, const std::string& drive, const TAppSettings& settings,
                     std::vector<TmyMusicFile>& items, std::ostream& err,
                     const std::optional<std::string>& releaseId) {
    const int index = FindDrive(drives, drive, err);
    if (index < 0)
        return false;
    std::string why;
    std::vector<TCdTrack> tracks;
    if (!drives.Tracks(index, tracks, &why)) {
        err << "brindlewave-cli: " << why << "\n";
        return false;
    }
    items = CdTrackItems(tracks, static_cast<uint8_t>(index), 0);
    const auto say = [&err](const std::string& line) { err << "brindlewave-cli: " << line << "\n"; };
    if (!items.empty() && NameFromMusicBrainz(items, drives, index, settings, ChooseReleaseByDate(releaseId), say))
        return true;
    std::unique_ptr<TCddb> cddb;
    if (settings.TryLoadFreeDB && !items.empty())
        cddb = CliLookUpDisc(drives, index, settings, err);
    TCdText cdText;
    drives.ReadCdText(index, cdText);
    const bool fromDatabase = cddb && DiscDataReadable(*cddb, settings);
    if (NameCdTrackItems(items, cddb.get(), &cdText, settings) && !fromDatabase && settings.TryLoadFreeDB)
        say("The disc was found in no database; the tracks are named from its CD-TEXT");
    return true;
}

namespace {

// What the cd sub-commands take.
struct TCdArgs {
    std::string Drive = "0";
    std::optional<std::string> Server, MusicBrainzServer, Release;
    std::optional<std::string> Toc;
};

TCliOption DriveOption(TCdArgs& args) {
    return {"--drive", "D", "0",
            "the drive: its index in cd drives, its device path, or a .cue/.toc image",
            [&args](const std::string& v, std::string&) {
                args.Drive = v;
                return true;
            }};
}

// The sub-commands' option tables, by name.
std::vector<TCliOption> CdOptions(std::string_view sub, TCdArgs& args) {
    if (sub == "tracks")
        return {DriveOption(args)};
    if (sub == "lookup")
        return {DriveOption(args),
                {"--server", "HOST[:PORT]", "the server in the program's settings",
                 "the disc database to ask", [&args](const std::string& v, std::string&) {
                     args.Server = v;
                     return true;
                 }},
                {"--musicbrainz-server", "URL", "the server in the program's settings",
                 "the MusicBrainz server to ask first", [&args](const std::string& v, std::string&) {
                     args.MusicBrainzServer = v;
                     return true;
                 }},
                {"--release", "MBID", "the first release by date",
                 "the MusicBrainz release to mark as chosen", [&args](const std::string& v, std::string&) {
                     args.Release = v;
                     return true;
                 }}};
    if (sub == "ids")
        return {DriveOption(args),
                {"--toc", "TEXT", "",
                 "a table of contents instead of a disc: each track's start sector with the lead-in, "
                 "A for audio and D for data, then the lead-out, as \"A150 A20000 D60000 L90000\"",
                 [&args](const std::string& v, std::string&) {
                     args.Toc = v;
                     return true;
                 }}};
    return {};
}

TCliCommand CdSub(std::string sub, std::string synopsis, std::string brief, std::string description,
                  std::vector<std::string> examples) {
    TCliCommand c{"cd " + sub, {std::move(synopsis)}, std::move(brief), std::move(description),
                  std::move(examples), nullptr, nullptr};
    c.Options = [sub] {
        static TCdArgs scratch;
        return CdOptions(sub, scratch);
    };
    c.Run = [sub](const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
        std::vector<std::string> all{sub};
        all.insert(all.end(), args.begin(), args.end());
        return RunCdCommand(all, out, err);
    };
    return c;
}

} // namespace

std::vector<TCliCommand> CdCliCommands() {
    std::vector<TCliCommand> subs{
        CdSub("drives", "cd drives [IMAGE...]", "the CD drives, one JSON object a line",
              "Lists the CD drives (index, device, text), one JSON object a line; each IMAGE (a "
              ".cue or .toc file) is added after them as a drive of its own.",
              {"cd drives", "cd drives album.cue"}),
        CdSub("tracks", "cd tracks [--drive D]", "the audio tracks of a disc, as probe prints them",
              "Lists the audio tracks of the disc in a drive as probe prints a file, one JSON "
              "object a line, named from the disc's CD-TEXT or the album sheet (not from the disc "
              "database: that is cd lookup).",
              {"cd tracks", "cd tracks --drive album.cue"}),
        CdSub("lookup", "cd lookup [--drive D] [--server HOST[:PORT]] [--musicbrainz-server URL] [--release MBID]",
              "look a disc up in MusicBrainz and the disc database",
              "Looks the disc of a drive up in MusicBrainz, one JSON object a line for each release "
              "of the disc (Chosen marks the one a rip takes), then in the disc database: status "
              "lines on the error output, the disc's record as one JSON object.",
              {"cd lookup", "cd lookup --drive /dev/sr1 --server localhost:8880"}),
        CdSub("ids", "cd ids [--drive D | --toc TEXT]", "the disc ids of a disc or a table of contents",
              "Prints the ids of a disc as one JSON object: its disc database id (FreedbId), its "
              "AccurateRipId, its MusicBrainzId, the audio tracks' offsets and the lead-out.",
              {"cd ids", "cd ids --toc \"A150 A20000 D60000 L90000\""}),
    };
    TCliCommand group{"cd", {}, "the CD drives and the discs in them: drives, tracks, lookup, ids",
                      "Lists the CD drives, the tracks of a disc, looks a disc up, or prints its ids; "
                      "each is a command of its own (see brindlewave-cli help cd SUB-COMMAND).",
                      {"cd drives", "help cd lookup"}, [] { return std::vector<TCliOption>{}; },
                      [](const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
                          return RunCdCommand(args, out, err);
                      }};
    for (const TCliCommand& sub : subs)
        group.Synopses.push_back(sub.Synopses.front());
    subs.insert(subs.begin(), std::move(group));
    return subs;
}

int RunCdCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 TCdSystem& system) {
    const std::string sub = args.empty() ? "" : args[0];
    if (sub != "drives" && sub != "tracks" && sub != "lookup" && sub != "ids") {
        err << "brindlewave-cli cd: "
            << (sub.empty() ? "which one: drives, tracks, lookup or ids?"
                            : "unknown sub-command '" + sub + "'" +
                                  DidYouMean(sub, std::vector<std::string>{"drives", "tracks", "lookup", "ids"}))
            << " (see brindlewave-cli help cd)\n";
        return 2;
    }
    TCdArgs cd;
    std::vector<std::string> operands;
    std::string error;
    if (!ParseCliOptions(CdOptions(sub, cd), std::vector<std::string>(args.begin() + 1, args.end()), operands,
                         error) ||
        (sub != "drives" && !operands.empty())) {
        err << "brindlewave-cli cd " << sub << ": "
            << (error.empty() ? "takes no operand, not '" + operands.front() + "'" : error)
            << " (see brindlewave-cli help cd " << sub << ")\n";
        return 2;
    }
    if (sub == "drives")
        return Drives(operands, out, err, system);
    if (sub == "tracks")
        return Tracks(cd.Drive, out, err, system);
    if (sub == "lookup")
        return Lookup(cd.Drive, CliCdSettings(cd.Server, cd.MusicBrainzServer), cd.Release, out, err, system);
    if (cd.Toc && cd.Drive != "0") {
        err << "brindlewave-cli cd ids: --drive and --toc exclude each other\n";
        return 2;
    }
    return Ids(cd.Drive, cd.Toc, out, err, system);
}

} // namespace bw
