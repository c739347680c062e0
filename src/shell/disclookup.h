#pragma once

#include "cd/cddb.h"
#include "cd/cdtext.h"
#include "core/jobitem.h"
#include "net/musicbrainz.h"
#include "shell/appsettings.h"
#include "shell/naming.h"

#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>

class QEventLoop;

namespace bw {

class TCdDriveList;
class TDialogs;

// Points the client at the disc database the settings name. FreeDBServer may carry a port
// ("host:port"); without one port 80 is used.
void SetUpCddb(TCddb& cddb, const TAppSettings& settings);

// How a lookup ended.
enum class TLookupEnd {
    Ended,     // the client reached a final state (read, failed, or idle)
    Deadline,  // the deadline passed first; the request under way was aborted
    Stopped,   // Stop was pressed
};

// Runs one lookup of the client to its end on the thread's event loop, without a window:
// the query, the deferred read of the first match, and a deadline of the Timeout setting.
// The lookup window shows it (its bar follows OnProgress, its text box OnStatus); the
// command-line tool runs it with Run. Installs its own OnStatusMessage and OnMatch on the
// client; lives on the client's thread.
class TDiscLookup {
public:
    explicit TDiscLookup(TCddb& cddb);
    ~TDiscLookup();
    TDiscLookup(const TDiscLookup&) = delete;
    TDiscLookup& operator=(const TDiscLookup&) = delete;

    std::function<void(const std::string&)> OnStatus;
    // Each second: the seconds counted so far and the bar's maximum (the timeout).
    std::function<void(int position, int maximum)> OnProgress;
    std::function<void(TLookupEnd)> OnFinished;

    // Sets the deadline timeoutSeconds (a hair less, as the window always had it) ahead
    // and sends the query. The lookup ends as soon as a request leaves the client in a final
    // state; the deadline and the progress are checked once a second.
    void Start(int timeoutSeconds);
    // Aborts the request under way and ends the lookup.
    void Stop();
    // Start, then waits on a local event loop until the lookup ends.
    TLookupEnd Run(int timeoutSeconds);
    bool Running() const { return running_; }

private:
    void Tick();
    // Ends the lookup when the client's state is final; returns whether it did.
    bool CheckOutcome();
    void Finish(TLookupEnd end);
    void ReadChosenMatch();

    TCddb& cddb_;
    QTimer timer_;
    std::chrono::steady_clock::time_point deadline_;
    int position_ = 0;
    int maximum_ = 0;
    bool running_ = false;
    QEventLoop* loop_ = nullptr; // the loop Run waits in, while it does
    TLookupEnd end_ = TLookupEnd::Ended;
};

// Looks the disc in a drive up: frees the drive, reads its table of contents, points the
// client at the server of the settings and runs the lookup to its end. status gets every
// status line.
TLookupEnd LookUpDisc(TCddb& cddb, TCdDriveList& drives, int drive, const TAppSettings& settings,
                      const std::function<void(const std::string&)>& status);

// Whether the disc data of the last lookup is to be applied: an entry was read and the
// lookup is switched on (the state outlives a change of the setting).
bool DiscDataReadable(const TCddb& cddb, const TAppSettings& settings);

// Gives a CD track item (trackIndex from 0) the disc's texts, its genre byte and a file name
// from the pattern, made safe as a file name; the tags keep the texts as they are.
void ApplyDiscData(TmyMusicFile& item, int trackIndex, const TCDInfo& info, const TNamePattern& pattern);

// CD-TEXT as a disc record, so that it names tracks through the same rule: the disc's
// performer (or, on a disc that names only its tracks' performers, the first track's) is
// the artist.
TCDInfo DiscInfoFromCdText(const TCdText& text);

// Names the CD track items of one drive after "Add CD Tracks": from the disc database entry
// when DiscDataReadable, else from the disc's CD-TEXT when it has any (a track's own
// performer, where CD-TEXT names one, is its artist). Returns whether names were given.
bool NameCdTrackItems(std::span<TmyMusicFile> items, const TCddb* cddb, const TCdText* cdText,
                      const TAppSettings& settings);

using TStatusLine = std::function<void(const std::string&)>;

// Picks one of the releases of a disc: its index, or none to go on without MusicBrainz.
using TReleaseChooser = std::function<std::optional<size_t>(const std::vector<TMbRelease>&)>;
// The window's way with several releases: the "Choose the release" dialog, one line each.
TReleaseChooser ChooseReleaseInDialog(TDialogs& dialogs);
// The command line's: the release of the id given (none when it is not among them), else
// the first by date (releases without a date last).
TReleaseChooser ChooseReleaseByDate(std::optional<std::string> releaseId);

// Asks MusicBrainz (the settings' server, contact and timeout) about the disc in a drive
// or an album image, by the disc id of its table of contents.
TMbAnswer LookUpMusicBrainz(TCdDriveList& drives, int drive, const TAppSettings& settings);

// Gives the CD track items the texts of a release: the album, its artist, the year, the
// first genre of the release that the genre list knows, each track's title, artist and ids
// by its place on the disc, "n/m" of a multi-disc set, a file name made safe from the
// pattern; and the cover, when one was fetched.
void ApplyMbRelease(std::span<TmyMusicFile> items, const TMbRelease& release,
                    std::shared_ptr<const std::vector<std::byte>> cover, const TNamePattern& pattern);

// Names the CD track items of a drive from MusicBrainz when the settings ask for it
// (TryLoadFreeDB and LookUpMusicBrainz): the release choose picks, with its front cover
// when covers are carried. False when nothing was named (not found, failed, none chosen),
// and status has said why and that the freedb database is next.
bool NameFromMusicBrainz(std::span<TmyMusicFile> items, TCdDriveList& drives, int drive,
                         const TAppSettings& settings, const TReleaseChooser& choose, const TStatusLine& status);

} // namespace bw
