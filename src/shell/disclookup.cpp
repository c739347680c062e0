#include "shell/disclookup.h"

#include "cd/cddrives.h"
#include "cd/discids.h"
#include "core/dialogs.h"
#include "core/genrelist.h"

#include <QEventLoop>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <numeric>

namespace bw {

void SetUpCddb(TCddb& cddb, const TAppSettings& settings) {
    std::string host = settings.FreeDBServer;
    std::string port = "80";
    const size_t colon = host.rfind(':');
    // Only "host:port" with a number: a bare IPv6 address has colons of its own.
    if (colon != std::string::npos && colon + 1 < host.size() && host.find(':') == colon &&
        host.find_first_not_of("0123456789", colon + 1) == std::string::npos) {
        port = host.substr(colon + 1);
        host.resize(colon);
    }
    cddb.ServerAddr = host;
    cddb.EmailUser = settings.FreeDBEmail;
    cddb.ServerAdditionalAddr = "/~cddb/cddb.cgi";
    cddb.ServerType = TServerType::HTTP;
    cddb.ServerPort = port;
}

TDiscLookup::TDiscLookup(TCddb& cddb) : cddb_(cddb) {
    timer_.setInterval(1000);
    QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { Tick(); });
    cddb_.OnStatusMessage = [this](TCddb&, const std::string& status) {
        if (OnStatus)
            OnStatus(status);
    };
    cddb_.OnMatch = [this](TCddb&, const TMatchArray&, int& rightOne) {
        rightOne = 0; // the first match, whatever the list holds
        // The client is still inside the end of the query: the read starts on a later turn.
        QMetaObject::invokeMethod(&timer_, [this] { ReadChosenMatch(); }, Qt::QueuedConnection);
    };
    // The answer ends the lookup, not the next tick: a local server answers in milliseconds.
    cddb_.OnRequestDone = [this](TCddb&) {
        if (running_)
            CheckOutcome();
    };
}

TDiscLookup::~TDiscLookup() {
    cddb_.OnStatusMessage = nullptr;
    cddb_.OnMatch = nullptr;
    cddb_.OnRequestDone = nullptr;
}

void TDiscLookup::ReadChosenMatch() {
    const int32_t state = cddb_.LookupState();
    if ((state == TLookupState::MatchChosen || state == TLookupState::MatchesReceived) &&
        cddb_.ReadHttp() != 0 && running_)
        CheckOutcome();
}

void TDiscLookup::Start(int timeoutSeconds) {
    // 0.00001156 days a second: the deadline falls slightly before the timeout.
    deadline_ = std::chrono::steady_clock::now() +
                std::chrono::microseconds(std::llround(timeoutSeconds * 998784.0));
    maximum_ = timeoutSeconds;
    position_ = 0;
    running_ = true;
    end_ = TLookupEnd::Ended;
    if (OnProgress)
        OnProgress(position_, maximum_);
    timer_.start();
    if (cddb_.QueryHttp() != 0) {
        // Refused before anything was sent: the outcome is known on the next turn.
        QMetaObject::invokeMethod(&timer_, [this] { if (running_) CheckOutcome(); }, Qt::QueuedConnection);
    }
}

bool TDiscLookup::CheckOutcome() {
    const int32_t s = cddb_.LookupState();
    if (s == TLookupState::EntryRead || s == TLookupState::QueryFailed || s == TLookupState::ReadFailed ||
        s == TLookupState::TransferFailed || s == TLookupState::Idle) {
        Finish(TLookupEnd::Ended);
        return true;
    }
    return false;
}

void TDiscLookup::Tick() {
    if (!running_)
        return;
    ++position_;
    if (OnProgress)
        OnProgress(position_, maximum_);
    if (CheckOutcome())
        return;
    if (std::chrono::steady_clock::now() > deadline_) {
        // A server that never ends its answer is given up on here, not left hanging.
        Finish(TLookupEnd::Deadline);
        cddb_.Abort();
    }
}

void TDiscLookup::Stop() {
    if (!running_)
        return;
    // Ended first: the aborted request reports back at once and must not end it again.
    Finish(TLookupEnd::Stopped);
    cddb_.Abort();
}

void TDiscLookup::Finish(TLookupEnd end) {
    running_ = false;
    end_ = end;
    timer_.stop();
    if (loop_)
        loop_->quit();
    if (OnFinished)
        OnFinished(end);
}

TLookupEnd TDiscLookup::Run(int timeoutSeconds) {
    QEventLoop loop;
    loop_ = &loop;
    Start(timeoutSeconds);
    if (running_)
        loop.exec();
    loop_ = nullptr;
    return end_;
}

TLookupEnd LookUpDisc(TCddb& cddb, TCdDriveList& drives, int drive, const TAppSettings& settings,
                      const std::function<void(const std::string&)>& status) {
    TDiscLookup lookup(cddb);
    lookup.OnStatus = status;
    drives.Release(drive);
    cddb.ReadDiscToc(drive);
    SetUpCddb(cddb, settings);
    return lookup.Run(settings.Timeout);
}

bool DiscDataReadable(const TCddb& cddb, const TAppSettings& settings) {
    return cddb.LookupState() == TLookupState::EntryRead && settings.TryLoadFreeDB;
}

void ApplyDiscData(TmyMusicFile& item, int trackIndex, const TCDInfo& info, const TNamePattern& pattern) {
    if (trackIndex >= 0 && static_cast<size_t>(trackIndex) < info.TrackTitles.size())
        item.Title = info.TrackTitles[static_cast<size_t>(trackIndex)];
    item.Artist = info.Artist;
    item.Album = info.Title;
    item.Genre = info.Genre;
    item.Year = info.Year;
    item.GenreIndex = static_cast<uint8_t>(GenreList().ByteFor(item.Genre));
    item.SourcePath = SafeTrackFileName({item.Title, item.Artist, item.Year, item.Genre, item.Album, item.Track}, pattern);
}

TCDInfo DiscInfoFromCdText(const TCdText& text) {
    TCDInfo info;
    info.Artist = text.Performer.empty() ? text.TrackPerformers[0] : text.Performer;
    info.Title = text.Title;
    info.Genre = text.Genre;
    info.Year = text.Year;
    info.TrackTitles = text.TrackTitles;
    return info;
}

bool NameCdTrackItems(std::span<TmyMusicFile> items, const TCddb* cddb, const TCdText* cdText,
                      const TAppSettings& settings) {
    const TCDInfo* info = nullptr;
    TCDInfo fromCdText;
    if (cddb && DiscDataReadable(*cddb, settings)) {
        info = &cddb->DiscInfo();
    } else if (cdText && !cdText->Empty()) {
        fromCdText = DiscInfoFromCdText(*cdText);
        info = &fromCdText;
    }
    if (!info)
        return false;
    const TNamePattern pattern = TNamePattern::FromSettings(settings);
    for (TmyMusicFile& item : items) {
        if (item.SourceType != TSourceType::CdTrack)
            continue;
        ApplyDiscData(item, item.Track - 1, *info, pattern);
        // A compilation's CD-TEXT (or album sheet) names each track's own performer.
        const size_t i = static_cast<size_t>(item.Track) - 1;
        if (info == &fromCdText && i < cdText->TrackPerformers.size() &&
            !cdText->TrackPerformers[i].empty() && cdText->TrackPerformers[i] != item.Artist) {
            item.Artist = cdText->TrackPerformers[i];
            item.SourcePath = SafeTrackFileName(
                {item.Title, item.Artist, item.Year, item.Genre, item.Album, item.Track}, pattern);
        }
    }
    return true;
}

TReleaseChooser ChooseReleaseInDialog(TDialogs& dialogs) {
    return [&dialogs](const std::vector<TMbRelease>& releases) -> std::optional<size_t> {
        if (releases.size() == 1)
            return 0;
        std::vector<std::string> lines;
        for (const TMbRelease& r : releases)
            lines.push_back(r.Line());
        return dialogs.ChooseLine("Choose the release", lines);
    };
}

TReleaseChooser ChooseReleaseByDate(std::optional<std::string> releaseId) {
    return [releaseId](const std::vector<TMbRelease>& releases) -> std::optional<size_t> {
        if (releaseId) {
            const auto named = std::find_if(releases.begin(), releases.end(),
                                            [&](const TMbRelease& r) { return r.Id == *releaseId; });
            return named == releases.end() ? std::nullopt
                                           : std::optional<size_t>(named - releases.begin());
        }
        std::vector<size_t> order(releases.size());
        std::iota(order.begin(), order.end(), size_t{0});
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            const std::string& x = releases[a].Date;
            const std::string& y = releases[b].Date;
            return !x.empty() && (y.empty() || x < y);
        });
        return order.empty() ? std::nullopt : std::optional<size_t>(order.front());
    };
}

TMbAnswer LookUpMusicBrainz(TCdDriveList& drives, int drive, const TAppSettings& settings) {
    TCDToc toc;
    if (!drives.ReadToc(drive, toc)) {
        TMbAnswer answer;
        answer.Error = "The table of contents of the disc can't be read";
        return answer;
    }
    return FetchMbReleases(settings.MusicBrainzServer, ComputeDiscIds(toc).MusicBrainzId,
                           MusicBrainzUserAgent(settings.MusicBrainzContact), settings.Timeout * 1000);
}

void ApplyMbRelease(std::span<TmyMusicFile> items, const TMbRelease& release,
                    std::shared_ptr<const std::vector<std::byte>> cover, const TNamePattern& pattern) {
    std::string genre;
    for (const std::string& g : release.Genres)
        if (const int i = GenreList().IndexOf(g); i >= 0) {
            genre = GenreList().Name(i);
            break;
        }
    const bool dated = release.Date.size() >= 4 &&
                       std::all_of(release.Date.begin(), release.Date.begin() + 4, [](unsigned char c) { return std::isdigit(c); });
    size_t place = 0; // a mixed-mode disc's data track is no track of the release
    for (TmyMusicFile& item : items) {
        if (item.SourceType != TSourceType::CdTrack)
            continue;
        const size_t i = place++;
        item.Album = release.Title;
        item.AlbumArtist = release.Artist;
        item.MbAlbumId = release.Id;
        item.MbReleaseGroupId = release.ReleaseGroupId;
        item.MbAlbumArtistId = release.ArtistId;
        item.Year = dated ? release.Date.substr(0, 4) : std::string();
        item.Genre = genre;
        item.GenreIndex = static_cast<uint8_t>(genre.empty() ? TGenreList::kOther : GenreList().ByteFor(genre));
        item.DiscNumber = release.MediumCount > 1
                              ? std::to_string(release.Medium) + "/" + std::to_string(release.MediumCount)
                              : std::string();
        const TMbTrack track = i < release.Tracks.size() ? release.Tracks[i] : TMbTrack{};
        item.Title = track.Title;
        item.Artist = track.Artist.empty() ? release.Artist : track.Artist;
        item.MbArtistId = track.Artist.empty() ? release.ArtistId : track.ArtistId;
        item.MbReleaseTrackId = track.Id;
        item.MbTrackId = track.RecordingId;
        item.FetchedCover = cover;
        item.SourcePath = SafeTrackFileName({item.Title, item.Artist, item.Year, item.Genre, item.Album, item.Track}, pattern);
    }
}

bool NameFromMusicBrainz(std::span<TmyMusicFile> items, TCdDriveList& drives, int drive,
                         const TAppSettings& settings, const TReleaseChooser& choose, const TStatusLine& status) {
    if (!settings.TryLoadFreeDB || !settings.LookUpMusicBrainz)
        return false;
    const auto say = [&status](const std::string& line) {
        if (status)
            status(line);
    };
    const TMbAnswer answer = LookUpMusicBrainz(drives, drive, settings);
    const std::string next = "; looking the disc up in the freedb database";
    if (answer.Kind == TMbAnswer::TKind::NotFound) {
        say("The disc is not in MusicBrainz" + next);
        return false;
    }
    if (answer.Kind == TMbAnswer::TKind::Failed) {
        say(answer.Error + next);
        return false;
    }
    const std::optional<size_t> chosen = choose ? choose(answer.Releases) : std::optional<size_t>(0);
    if (!chosen || *chosen >= answer.Releases.size()) {
        say("No MusicBrainz release was chosen (" + std::to_string(answer.Releases.size()) +
            " carry the disc)" + next);
        return false;
    }
    const TMbRelease& release = answer.Releases[*chosen];
    say("MusicBrainz: " + release.Line());
    std::shared_ptr<const std::vector<std::byte>> cover;
    if (settings.CarryCovers) {
        std::string why;
        auto data = FetchFrontCover(settings.CoverArtServer, release.Id, MusicBrainzUserAgent(settings.MusicBrainzContact),
                                    settings.Timeout * 1000, why);
        if (data.empty())
            say("The release's cover was not fetched: " + why);
        else
            cover = std::make_shared<const std::vector<std::byte>>(std::move(data));
    }
    ApplyMbRelease(items, release, std::move(cover), TNamePattern::FromSettings(settings));
    return true;
}

} // namespace bw
