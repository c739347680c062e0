#pragma once

#include "cd/cddb.h"
#include "cd/cdsystem.h"
#include "cli/clioptions.h"
#include "core/jobitem.h"
#include "shell/appsettings.h"

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCoreApplication;

namespace bw {

class TCdDriveList;

// `brindlewave-cli cd drives [IMAGE...]`: one JSON object a line for each drive of the list
// (index, device, text), the images given added after the system's drives.
// `brindlewave-cli cd tracks [--drive D]`: one JSON object a line for each audio track of
// the disc in drive D (an index, a device path or an image path: a CD image or an album
// image, a cue sheet naming audio files; 0 by default), as the probe prints a job item.
// `brindlewave-cli cd lookup [--drive D] [--server HOST[:PORT]] [--musicbrainz-server URL]
// [--release MBID]`: looks the disc up in MusicBrainz, every release carrying it one JSON
// object a line (the one taken marked "Chosen": the release given, else the first by date);
// failing that in the disc database, the disc record as one JSON object; status lines on err.
// `brindlewave-cli cd ids [--drive D | --toc TEXT]`: the disc's ids (FreedbId, AccurateRipId,
// the audio tracks' offsets, the lead-out and MusicBrainzId) as one JSON object, of a drive's disc or of a
// table of contents written as "A150 A20000 D60000 L90000" (start sectors with the lead-in).
// Returns 0 on success, 1 when a drive or disc fails, 2 on
// wrong arguments.
// The settings a disc lookup and the naming of CD tracks take from the desktop program's
// store (the disc database ones and the file-name pattern; the built-in ones before its
// first start); server, when given, replaces FreeDBServer.
// musicBrainzServer, when given, replaces MusicBrainzServer.
TAppSettings CliCdSettings(const std::optional<std::string>& server,
                           const std::optional<std::string>& musicBrainzServer = std::nullopt);

// An application object for the network and the timers of a lookup while it lives, when the
// program has none. Outlives the clients made under it.
class TCliCoreApp {
public:
    TCliCoreApp();
    ~TCliCoreApp();
    TCliCoreApp(const TCliCoreApp&) = delete;
    TCliCoreApp& operator=(const TCliCoreApp&) = delete;

private:
    std::unique_ptr<QCoreApplication> app_;
};

// Looks up the disc of a drive on a local event loop (a TCliCoreApp must live); each status
// line goes to err as "brindlewave-cli: <line>".
std::unique_ptr<TCddb> CliLookUpDisc(TCdDriveList& drives, int drive, const TAppSettings& settings,
                                     std::ostream& err);

// The job items of the audio tracks of the disc in drive (an index, a device path or an
// image, added to drives), named as "Add CD Tracks" names them: from the disc database when
// settings.TryLoadFreeDB (a TCliCoreApp must live), else from the disc's CD-TEXT or the
// album sheet's texts. MusicBrainz comes first when the settings ask for it, its release
// the one of releaseId, else the first by date. False with the reason said on err.
bool CliCdTrackItems(TCdDriveList& drives, const std::string& drive, const TAppSettings& settings,
                     std::vector<TmyMusicFile>& items, std::ostream& err,
                     const std::optional<std::string>& releaseId = std::nullopt);

int RunCdCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 TCdSystem& system = SystemCd());
// "cd" with the help of each of its sub-commands ("cd drives", ...) after it.
std::vector<TCliCommand> CdCliCommands();

} // namespace bw
